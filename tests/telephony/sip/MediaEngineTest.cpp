// The media engine on loopback, one 20 ms step at a time: packets sent in a step are in the peer's socket when
// the step returns, so every check follows the steps it needs.
#include "telephony/sip/MediaEngine.h"
#include "platform/WakeEvent.h"
#include "telephony/sip/MediaVoice.h"
#include "telephony/sip/ReHeaders.h"
#include "telephony/sip/SipCardMedia.h"
#include "tests/support/TestDir.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cmath>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace zz;

namespace {

constexpr int kFrame = MediaEngine::kFrame;

// A UDP socket of the test standing for a caller's phone.
class Phone {
public:
    // On 127.0.0.1, or on another address of the loopback network (another host, as the engine sees it).
    explicit Phone(uint32_t address = INADDR_LOOPBACK) {
        fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(address);
        bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t len = sizeof a;
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
    }
    ~Phone() { close(fd); }
    // One packet of PCMA (payload 8) with every sample at the value given, to the engine's port.
    void Send(int enginePort, int16_t level) {
        uint8_t p[12 + kFrame] = {0x80, 8};
        p[3] = uint8_t(seq++);
        for (int i = 0; i < kFrame; ++i)
            p[12 + i] = g711(level);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(uint16_t(enginePort));
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        sendto(fd, p, sizeof p, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    }
    // The loudest sample of every audio packet waiting, in order.
    std::vector<int> Levels() {
        std::vector<int> out;
        uint8_t p[1500];
        ssize_t n;
        while ((n = recv(fd, p, sizeof p, 0)) > 0) {
            if ((p[1] & 0x7F) != 8) continue;
            int peak = 0;
            for (ssize_t i = 12; i < n; ++i)
                peak = std::max(peak, std::abs(int(alaw(p[i]))));
            out.push_back(peak);
        }
        return out;
    }
    static uint8_t g711(int16_t v);
    static int16_t alaw(uint8_t b);
    int fd = -1;
    int port = 0;
    uint8_t seq = 0;
};

uint8_t Phone::g711(int16_t pcm) {
    return PcmToAlaw(pcm);
}

int16_t Phone::alaw(uint8_t b) {
    return g711_alaw2pcm(b);
}

bool Signalled(WakeEvent& w) {
    pollfd p{w.Fd(), POLLIN, 0};
    bool yes = poll(&p, 1, 0) == 1;
    w.Drain();
    return yes;
}

// A tone file of n samples, 16-bit PCM WAV.
void ToneFile(const std::string& path, int n, double hz) {
    std::string d;
    auto le = [&](uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            d += char(v >> (8 * i));
    };
    d = "RIFF";
    le(36 + 2 * n, 4);
    d += "WAVEfmt ";
    le(16, 4), le(1, 2), le(1, 2), le(8000, 4), le(16000, 4), le(2, 2), le(16, 2);
    d += "data";
    le(2 * n, 4);
    for (int i = 0; i < n; ++i)
        le(uint16_t(int16_t(8000 * std::sin(2 * M_PI * hz * i / 8000))), 2);
    TestDir::Write(path, d);
}

class MediaEngineTest : public ::testing::Test {
protected:
    // A started channel on a free port, sending to the phone.
    int Channel(Phone& phone, WakeEvent* wake, int evpt = 101) {
        int ch = 0;
        EXPECT_EQ(media.ms_channel_create(ch, wake), 0);
        for (int port = 21000 + (getpid() % 500) * 20; port < 60000; port += 2)
            if (media.ms_channel_start_ex(ch, 8, port, "127.0.0.1", phone.port, evpt) == 0) {
                ports[ch] = port;
                return ch;
            }
        ADD_FAILURE() << "no free port";
        return ch;
    }
    void Steps(int n) {
        for (int i = 0; i < n; ++i)
            media.TickForTest();
    }
    TestDir dir{"media"};
    MediaEngine media;
    std::map<int, int> ports;
};

TEST_F(MediaEngineTest, APeerSilentForAMinuteWakesTheLineOnce) {
    Phone phone;
    WakeEvent wake;
    int ch = Channel(phone, &wake);
    Steps(int(MediaEngine::kSilentSteps) - 10);
    phone.Send(ports[ch], 100); // the peer speaks: the minute starts again
    Steps(20);
    EXPECT_EQ(media.ms_channel_is_silent(ch), 0);
    Signalled(wake);
    Steps(int(MediaEngine::kSilentSteps) - 19);
    EXPECT_EQ(media.ms_channel_is_silent(ch), 1);
    EXPECT_TRUE(Signalled(wake));
    Steps(5);
    EXPECT_FALSE(Signalled(wake)) << "woken once";
    EXPECT_EQ(media.ms_channel_is_silent(999), -1);
}

// Another host sending to a call's port is not heard and does not keep a silent caller's call up.
TEST_F(MediaEngineTest, OnlyTheCallersHostIsHeard) {
    Phone phone, stranger(INADDR_LOOPBACK + 1);
    WakeEvent wake;
    int ch = Channel(phone, &wake);
    for (int i = 0; i < int(MediaEngine::kSilentSteps) + 5; ++i) {
        stranger.Send(ports[ch], 8000);
        Steps(1);
    }
    int received = -1, sent = -1;
    EXPECT_EQ(media.ms_recv_send_count(ch, received, sent), 0);
    EXPECT_EQ(received, 0);
    EXPECT_EQ(media.ms_channel_is_silent(ch), 1);
    phone.Send(ports[ch], 100);
    Steps(1);
    EXPECT_EQ(media.ms_recv_send_count(ch, received, sent), 0);
    EXPECT_EQ(received, 1);
}

TEST_F(MediaEngineTest, APlayGoesOutAsRtpAndItsEndWakesTheLine) {
    ToneFile("tone.wav", 4 * kFrame, 1000);
    Phone phone;
    WakeEvent wake;
    int ch = Channel(phone, &wake);
    int play = 0;
    ASSERT_EQ(media.ms_playing_create(play, "tone.wav", &wake), 0);
    ASSERT_EQ(media.ms_playing_start(play, kMediaOnChannel, ch), 0);
    Steps(3);
    EXPECT_EQ(media.ms_playing_is_end(play), 0);
    EXPECT_FALSE(Signalled(wake));
    Steps(2);
    EXPECT_EQ(media.ms_playing_is_end(play), 1);
    EXPECT_TRUE(Signalled(wake));
    std::vector<int> levels = phone.Levels();
    ASSERT_EQ(levels.size(), 5u) << "one packet every 20 ms";
    for (int i = 0; i < 4; ++i)
        EXPECT_GT(levels[size_t(i)], 6000) << i;
    EXPECT_LT(levels[4], 10) << "silence after the end";
    int received = -1, sent = -1;
    EXPECT_EQ(media.ms_recv_send_count(ch, received, sent), 0);
    EXPECT_EQ(sent, 5);
    EXPECT_EQ(media.ms_playing_create(play, "missing.wav", &wake), -1);
}

TEST_F(MediaEngineTest, KeysCrossAsTelephoneEventsOrInBand) {
    for (int evpt : {101, -1}) {
        // Two channels sending to each other: the digits one dials come out of the other.
        Phone unused;
        WakeEvent wa, wb;
        int a = Channel(unused, &wa, evpt), b = Channel(unused, &wb, evpt);
        ASSERT_EQ(media.ms_channel_start_ex(a, 8, ports[a], "127.0.0.1", ports[b], evpt), 0);
        ASSERT_EQ(media.ms_channel_start_ex(b, 8, ports[b], "127.0.0.1", ports[a], evpt), 0);
        ASSERT_EQ(media.ms_dtmf_dial(a, "12#", 3), 0);
        Steps(60);
        std::string digits;
        EXPECT_EQ(media.ms_dtmf_get_str(b, digits, 64), 0);
        EXPECT_EQ(digits, "12#") << "event payload type " << evpt;
        EXPECT_TRUE(Signalled(wb));
        media.ms_channel_destory(a);
        media.ms_channel_destory(b);
    }
}

TEST_F(MediaEngineTest, ASessionGivesEveryTalkerTheOthersButNotItself) {
    Phone p1, p2, p3;
    int c1 = Channel(p1, nullptr), c2 = Channel(p2, nullptr), c3 = Channel(p3, nullptr);
    int s = 0;
    ASSERT_EQ(media.ms_session_create(s), 0);
    ASSERT_EQ(media.ms_session_add(s, c1), 0);
    ASSERT_EQ(media.ms_session_add(s, c2), 0);
    ASSERT_EQ(media.ms_session_listen(s, c3), 0);
    int rec = 0;
    ASSERT_EQ(media.ms_recording_create(rec, "all.wav", nullptr), 0);
    ASSERT_EQ(media.ms_recording_start(rec, kMediaOnSession, s), 0);
    p1.Send(ports[c1], 4000);
    p3.Send(ports[c3], 9000);
    Steps(1);
    EXPECT_LT(p1.Levels().at(0), 10) << "the talker does not hear itself, nor the listener";
    EXPECT_NEAR(p2.Levels().at(0), 4000, 200) << "the other talker hears it";
    EXPECT_NEAR(p3.Levels().at(0), 4000, 200) << "the listener hears it";
    EXPECT_EQ(media.ms_recorded_length(rec), kFrame);
    // Two loud talkers: the mix is held at full scale, down to the lowest sample, whose A-law stays the loudest.
    p1.Send(ports[c1], -30000);
    p2.Send(ports[c2], -30000);
    Steps(1);
    EXPECT_GE(p3.Levels().at(0), 32000) << "the listener hears the clipped mix";
    EXPECT_NEAR(p2.Levels().at(0), 30000, 1000);
    EXPECT_NEAR(p1.Levels().at(0), 30000, 1000);
    ASSERT_EQ(media.ms_session_remove(s, c2), 0);
    p1.Send(ports[c1], 4000);
    Steps(1);
    EXPECT_LT(p2.Levels().at(0), 10) << "a channel out of the session hears it no more";
    EXPECT_EQ(media.ms_session_destory(s), 0);
    EXPECT_EQ(media.ms_recording_stop(rec), 0);
    EXPECT_EQ(media.ms_recording_destory(rec), 0);
}

TEST_F(MediaEngineTest, ARecordingTakesTheCallerAndWakesTheLineAtItsLimit) {
    Phone phone;
    WakeEvent wake;
    int ch = Channel(phone, &wake);
    int rec = 0;
    ASSERT_EQ(media.ms_recording_create(rec, "caller.wav", &wake), 0);
    ASSERT_EQ(media.ms_recording_start(rec, kMediaOnChannel, ch), 0);
    ASSERT_EQ(media.ms_recording_set_limit(rec, 5 * kFrame), 0);
    for (int i = 0; i < 5; ++i) {
        phone.Send(ports[ch], 3000);
        Steps(1);
    }
    EXPECT_FALSE(Signalled(wake));
    Steps(1);
    EXPECT_TRUE(Signalled(wake)) << "more than the limit";
    ASSERT_EQ(media.ms_recording_stop(rec), 0);
    auto pcm = LoadVoice("caller.wav");
    ASSERT_TRUE(pcm);
    ASSERT_EQ(pcm->samples.size(), size_t(6 * kFrame));
    EXPECT_NEAR(pcm->samples[100], 3000, 200);
    EXPECT_LE(std::abs(pcm->samples[5 * kFrame + 10]), 8) << "a step without a packet records silence";
    int32_t received = 0, sent = 0;
    media.ms_recv_send_count(ch, received, sent);
    EXPECT_EQ(received, 5);
    EXPECT_EQ(media.ms_recording_create(rec, "/no/such/dir/x.wav", nullptr), -1);
}

TEST_F(MediaEngineTest, ARoomRecordingStillRunningIsAPlayableFileOfEverySecondDone) {
    Phone phone;
    int ch = Channel(phone, nullptr), s = 0, rec = 0;
    ASSERT_EQ(media.ms_session_create(s), 0);
    ASSERT_EQ(media.ms_session_add(s, ch), 0);
    ASSERT_EQ(media.ms_recording_create(rec, "room.wav", nullptr), 0);
    ASSERT_EQ(media.ms_recording_start(rec, kMediaOnSession, s), 0);
    for (int i = 0; i < 51; ++i) {
        phone.Send(ports[ch], 3000);
        Steps(1);
    }
    // Nothing stopped it (the line reloaded, the process is stopping): the file holds the first second whole.
    auto pcm = LoadVoice("room.wav");
    ASSERT_TRUE(pcm);
    EXPECT_EQ(pcm->samples.size(), size_t(50 * kFrame));
    EXPECT_NEAR(pcm->samples[7000], 3000, 200);
}

TEST_F(MediaEngineTest, ManyChannelsAreWorkedOnSeveralThreads) {
    // Enough channels that the engine's own thread shares every step out to its workers, and more with packets
    // waiting at once than one look at the sockets used to take (that made the engine's thread spin for ever).
    // Twice: workers started again must not touch the channels of the first run.
    ToneFile("short.wav", 5 * kFrame, 500);
    for (int round = 0; round < 2; ++round) {
        ASSERT_EQ(media.ms_init(), 0);
        Phone phone;
        WakeEvent wake;
        std::vector<int> channels, plays;
        for (int i = 0; i < 300; ++i) {
            int ch = Channel(phone, nullptr), h = 0;
            ASSERT_EQ(media.ms_playing_create(h, "short.wav", &wake), 0);
            channels.push_back(ch);
            plays.push_back(h);
        }
        for (int ch : channels)
            phone.Send(ports[ch], 1000);
        for (size_t i = 0; i < channels.size(); ++i)
            ASSERT_EQ(media.ms_playing_start(plays[i], kMediaOnChannel, channels[i]), 0);
        EXPECT_TRUE(wake.WaitFor(60000, [&] {
            return std::all_of(plays.begin(), plays.end(), [&](int h) { return media.ms_playing_is_end(h) == 1; });
        }));
        for (int ch : channels) {
            int32_t received = 0, sent = 0;
            EXPECT_EQ(media.ms_recv_send_count(ch, received, sent), 0);
            EXPECT_EQ(received, 1) << "the caller's packet was taken in";
            EXPECT_GE(sent, 5) << "the whole play went out";
        }
        EXPECT_EQ(media.ms_exit(), 0);
    }
}

} // namespace

TEST_F(MediaEngineTest, ACardLineBridgedIntoASessionHearsTheCallerAndIsHeard) {
    // The card's side: 320-byte A-law blocks pushed and taken through the card lines' view of the engine.
    SipCardMedia card(media);
    Phone phone;
    int sip = Channel(phone, nullptr);
    int32_t ext = 0, s = 0;
    ASSERT_EQ(card.ms_external_channel_create(ext), 0);
    ASSERT_EQ(card.ms_external_channel_start(ext, 8), 0);
    ASSERT_EQ(card.ms_session_create(s), 0);
    ASSERT_EQ(card.ms_session_add(s, sip), 0);
    ASSERT_EQ(card.ms_session_add(s, ext), 0);
    uint8_t block[2 * kFrame];
    int32_t count = sizeof block;
    EXPECT_EQ(card.ms_get_data(ext, block, count), 0);
    EXPECT_EQ(count, 0) << "nothing to give before a step";
    std::fill(std::begin(block), std::end(block), Phone::g711(5000));
    ASSERT_EQ(card.ms_push_data(ext, block, sizeof block), 0);
    phone.Send(ports[sip], 3000);
    Steps(1);
    EXPECT_NEAR(phone.Levels().at(0), 5000, 250) << "the SIP caller hears the card line";
    count = sizeof block;
    ASSERT_EQ(card.ms_get_data(ext, block, count), 0);
    ASSERT_EQ(count, kFrame);
    EXPECT_NEAR(std::abs(Phone::alaw(block[0])), 3000, 150) << "the card line hears the SIP caller";
    // A play into the room wakes the card line waiting for its end.
    int32_t play = 0, ended = -1;
    WakeEvent playEnd;
    EXPECT_NE(card.ms_playing_create(play, "missing.wav", &playEnd), 0);
    ToneFile("tone.wav", kFrame, 1000);
    ASSERT_EQ(card.ms_playing_create(play, "tone.wav", &playEnd), 0);
    ASSERT_EQ(card.ms_playing_start(play, kMediaOnSession, s), 0);
    EXPECT_EQ(card.ms_playing_is_end(play, ended), 0);
    EXPECT_EQ(ended, 0);
    Steps(2);
    EXPECT_EQ(card.ms_playing_is_end(play, ended), 0);
    EXPECT_EQ(ended, 1);
    EXPECT_TRUE(Signalled(playEnd));
    EXPECT_EQ(card.ms_playing_destory(play), 0);
    EXPECT_EQ(card.ms_session_destory(s), 0);
    EXPECT_EQ(card.ms_channel_destory(ext), 0);
}
