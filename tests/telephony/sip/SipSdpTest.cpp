// The SDP of the SIP lines: offers of what the media engine sends, answers, the peer's audio, no "any" address.
#include "telephony/sip/SipSdp.h"

#include <gtest/gtest.h>

using namespace zz;

TEST(SipSdpTest, OffersAndAnswersCarryOnlyG711AndTelephoneEvents) {
    EXPECT_EQ(SdpCodecList("8,18,3,98"), (std::vector<int>{8}));
    EXPECT_EQ(SdpCodecList("18,0,8,0"), (std::vector<int>{0, 8}));
    EXPECT_EQ(SdpCodecList("18"), (std::vector<int>{8, 0})) << "nothing the engine sends: both G.711 laws";

    std::string offer = SdpOffer("127.0.0.1", 10510, {8, 0});
    EXPECT_NE(offer.find("m=audio 10510 RTP/AVP 8 0 101\r\n"), std::string::npos) << offer;
    EXPECT_NE(offer.find("a=rtpmap:101 telephone-event/8000"), std::string::npos);

    std::string peer =
        "v=0\r\nc=IN IP4 10.0.0.9\r\nm=audio 4000 RTP/AVP 18 0 96\r\na=rtpmap:96 telephone-event/8000\r\n";
    std::string answer = SdpAnswer("127.0.0.1", 10500, peer);
    EXPECT_NE(answer.find("m=audio 10500 RTP/AVP 0 96\r\n"), std::string::npos) << answer;
    EXPECT_EQ(SdpAnswer("127.0.0.1", 10500, "v=0\r\nm=audio 4000 RTP/AVP 18\r\n"), "");

    int type = 0, port = 0, ev = 0;
    std::string addr;
    ASSERT_TRUE(SdpPeerMedia(peer, type, addr, port, ev));
    EXPECT_EQ(type, 0);
    EXPECT_EQ(addr, "10.0.0.9") << "the session's address when the stream has none";
    EXPECT_EQ(port, 4000);
    EXPECT_EQ(ev, 96);
    ASSERT_TRUE(SdpPeerMedia("m=audio 5 RTP/AVP 8\r\nc=IN IP4 1.2.3.4\r\n", type, addr, port, ev));
    EXPECT_EQ(ev, -1) << "no telephone events: keys are heard in-band";

    std::string fixed = SdpFixAddr(SdpOffer("0.0.0.0", 9, {8}), "192.168.1.5");
    EXPECT_EQ(fixed.find("0.0.0.0"), std::string::npos) << fixed;
    EXPECT_NE(fixed.find("c=IN IP4 192.168.1.5"), std::string::npos);
}

TEST(SipSdpTest, APeerThatHoldsIsSeenAndAnsweredInTheMirroredDirection) {
    const std::string audio = "m=audio 4000 RTP/AVP 8\r\n";
    const std::string at = "v=0\r\nc=IN IP4 10.0.0.9\r\n";
    EXPECT_FALSE(SdpParse(at + audio).Held());
    EXPECT_TRUE(SdpParse(at + "a=inactive\r\n" + audio).Held()) << "the session's direction";
    EXPECT_FALSE(SdpParse(at + "a=inactive\r\n" + audio + "a=sendrecv\r\n").Held()) << "the stream's wins";
    EXPECT_TRUE(SdpParse("v=0\r\nc=IN IP4 0.0.0.0\r\n" + audio).Held());
    for (auto [peer, mine] : {std::pair{"sendonly", "recvonly"}, {"recvonly", "sendonly"}, {"inactive", "inactive"}}) {
        std::string answer = SdpAnswer("127.0.0.1", 10500, at + audio + "a=" + peer + "\r\n");
        EXPECT_NE(answer.find(std::string("a=") + mine + "\r\n"), std::string::npos) << peer << ": " << answer;
    }
}
