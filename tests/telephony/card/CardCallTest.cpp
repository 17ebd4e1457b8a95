// The card driver's start-up, ISUP messages and call control against the simulated card.
#include "CardFixture.h"

#include "telephony/card/IsupMessage.h"

namespace zz::test {

TEST_F(CardTest, OptionFilesAndChannelNames) {
    WriteText("Protocol.ini", "ss1\nisup 24\n");
    EXPECT_EQ(TagShDrive::ReadProtocolIni("Protocol.ini"), kSigIsup);
    WriteText("Protocol.ini", "");
    EXPECT_EQ(TagShDrive::ReadProtocolIni("Protocol.ini"), 0);
    WriteText("Card.ini", "CONF=OFF\n");
    TagShDrive::ReadCardIni("Card.ini");
    EXPECT_TRUE(_isConfEnable);
    WriteText("Card.ini", "conf = no\nMAKE_SIP_CONF=0\nnothing here\n");
    EXPECT_EQ(TagShDrive::ReadCardIni("Card.ini"), 2);
    EXPECT_FALSE(_isConfEnable);
    EXPECT_FALSE(CardCfg().makeSipConf);

    Start("", "0,2,11,5");
    std::string name;
    for (int32_t ch = 0; ch < 4; ++ch) {
        drive_->GetLineName(ch, name);
        EXPECT_EQ(name, std::vector<std::string>({"A:0", "U:1", "E:2", "FAX:3"})[size_t(ch)]);
    }
    EXPECT_EQ(drive_->GetLineName(4, name), -1);
    EXPECT_TRUE(name.empty());
    EXPECT_EQ(drive_->MakeLine(-1, 0), nullptr);
    ASSERT_EQ(drive_->faxRecs.size(), 1u);
    EXPECT_EQ(drive_->faxRecs[0].ch, 3);
    EXPECT_EQ(Line(0).lineKind, kLineAnalogTrunk);
    EXPECT_EQ(Line(2).signalling, kSigIsup);
    // The analogue trunk went on hook when its line was made.
    EXPECT_EQ(Calls("SsmHangup(0)").size(), 1u);
}

TEST_F(CardTest, NoCardConfigurationIsNoCardAndAnUnreadableOneFails) {
    TagShDrive none(std::make_unique<CardSim>(), dir_.string() + "/nowhere/");
    EXPECT_EQ(none.status, -1);
    EXPECT_EQ(none.lineCount, 0);
    EXPECT_EQ(none.failure, "no card (no ShConfig.ini in " + dir_.string() + "/nowhere/)");
    std::filesystem::create_directories(dir_ / "bad/ShConfig.ini");
    TagShDrive bad(std::make_unique<CardSim>(), dir_.string() + "/bad/");
    EXPECT_EQ(bad.status, -1);
    EXPECT_EQ(bad.failure, "cannot read " + dir_.string() + "/bad/ShConfig.ini: Is a directory");
}

TEST(IsupMessageTest, PackingCircuitsAndNumberRewrites) {
    uint8_t c[3];
    for (auto [ch, b1] : std::vector<std::pair<int, int>>{{0, 1}, {14, 15}, {15, 17}, {30, 33}}) {
        CircuitBytes(ch, c);
        EXPECT_EQ(c[1], b1) << ch;
    }
    EXPECT_EQ(Hex(PackDigits("12345")), "2143F5");
    uint8_t packed[] = {0x21, 0x43, 0xF5};
    EXPECT_EQ(UnpackDigits(packed, 3, 1), "12345");

    // An IAM without label parses from byte 0: called 1234, calling 8001.
    std::vector<uint8_t> m = {0x01, 0,    0x60, 0,    0x0A, 0x03, 0x02, 0x06, 0x04, 0x03,
                              0x10, 0x21, 0x43, 0x0A, 0x04, 0x03, 0x13, 0x08, 0x10, 0x00};
    IsupMessage iam;
    ASSERT_EQ(iam.Init(m.data(), int32_t(m.size())), 0);
    EXPECT_EQ(iam.called, "1234");
    EXPECT_EQ(iam.calling, "8001");
    EXPECT_EQ(iam.ReplaceCalled("12"), -2);
    EXPECT_EQ(iam.length, int32_t(m.size()));
    EXPECT_GT(iam.ReplaceCalled("12345"), 0);
    EXPECT_EQ(iam.msg[8], 5);
    EXPECT_EQ(iam.msg[9] & 0x80, 0x80);
    EXPECT_EQ(iam.msg[7], 7);
    IsupMessage again;
    again.Init(iam.msg, iam.length);
    EXPECT_EQ(again.called, "12345");
    EXPECT_EQ(again.calling, "8001");

    // A parameter longer than 20 ends the scan; a message cut short is read only as far as it goes.
    std::vector<uint8_t> longParam = m;
    longParam[14] = 21;
    IsupMessage cut;
    cut.Init(longParam.data(), int32_t(longParam.size()));
    EXPECT_TRUE(cut.calling.empty());
    cut.Init(m.data(), 11);
    EXPECT_TRUE(cut.called.empty());
    EXPECT_EQ(iam.Init(std::vector<uint8_t>{0x06, 0, 0}.data(), 3), -2);

    // The calling number as the very last bytes: nothing follows it to move.
    IsupMessage last;
    last.Init(m.data(), int32_t(m.size()) - 1);
    EXPECT_GT(last.ReplaceCaller("5551"), 0);
    again.Init(last.msg, last.length);
    EXPECT_EQ(again.calling, "5551");
}

TEST(IsupMessageTest, AcmParseAndImagesStayWithinTheirBytes) {
    uint8_t dpc[3] = {}, opc[3] = {};
    bool known = true;
    std::vector<uint8_t> acm = {0x85, 1, 2, 3, 4, 5, 6, 1, 1, 0, 0x06, 0x12, 0x14, 0x01, 0x12, 0x02, 0x80, 0x91, 0x00};
    AcmResult a = ParseAcm(acm.data(), int32_t(acm.size()), false, dpc, opc, known);
    EXPECT_EQ(a.cause, 0x11);
    EXPECT_EQ(a.status, 0);
    std::vector<uint8_t> div = {0x85, 1,    2,    3,    4,    5,    6,    1,    1,    0,    0x06, 0x16,
                                0x14, 0x01, 0x36, 0x01, 0x10, 0x0C, 0x04, 0x03, 0x10, 0x00, 0x10, 0x00};
    div[21] = 0x08; // 8001 packed: 0x08 0x10
    a = ParseAcm(div.data(), int32_t(div.size()), false, dpc, opc, known);
    EXPECT_EQ(a.divertCase, 2);
    EXPECT_EQ(a.redirNumber, "8001");

    // Numbers are cut to the message's 29 digits, so the image keeps within 300 bytes.
    IsupCallFields f;
    f.dialled = std::string(200, '5');
    f.callerToSend = std::string(200, '6');
    f.originalCalled = std::string(200, '7');
    f.redirection = 1;
    std::vector<uint8_t> img = BuildIam(f, dpc, opc, {});
    EXPECT_LE(img.size(), size_t(kIsupImageMax));
    IsupMessage parsed;
    parsed.Init(img.data(), int32_t(img.size()));
    EXPECT_EQ(parsed.called, std::string(29, '5'));
}

TEST_F(CardTest, IncomingIsupCallParsesTheIamAndSendsAcmAndAnswer) {
    Start();
    // Called 12345 (odd), calling 8001, from the exchange at point code 000002 to us at 000001.
    std::vector<uint8_t> iam = {0x85, 0x00, 0x00, 0x01, 0x00, 0x00, 0x02, 0x01, 0x02, 0x00, 0x01,
                                0x00, 0x60, 0x00, 0x0A, 0x03, 0x02, 0x07, 0x05, 0x83, 0x10, 0x21,
                                0x43, 0xF5, 0x0A, 0x04, 0x03, 0x13, 0x08, 0x10, 0x00};
    ASSERT_EQ(sim_->RingIsup(kIsup, iam), 0);
    TagShCall& c = Line(kIsup);
    EXPECT_EQ(c.WaitRing(1), 0);
    EXPECT_EQ(c.callState, kCallConnected);
    EXPECT_EQ(c.callerId, "8001");
    EXPECT_EQ(c.calleeId, "12345");
    auto sent = sim_->Channel(kIsup)->isupSent;
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(Hex(sent[0]), "85000002000001010200"
                            "061214013701"
                            "0C290101"
                            "00");
    EXPECT_EQ(Hex(sent[1]), "85000002000001010200"
                            "0900");
    EXPECT_EQ(Calls("SsmAnswer").size(), 1u);
    // The IAM is kept from its type byte for the script.
    EXPECT_EQ(c.sigRecvLen, int32_t(iam.size()) - 10);
    EXPECT_EQ(c.sigRaw[0], 0x01);

    // The far end releases: the online check hangs up with an ISUP release.
    sim_->FarHangup(kIsup);
    EXPECT_EQ(c.IsOnline(), 0);
    EXPECT_EQ(c.callState, kCallReleased);
    EXPECT_EQ(Calls("SsmIsupRelease(1, 0)").size(), 1u);
}

TEST_F(CardTest, AnalogueCallTakesItsCallerFromTheFskBurst) {
    Start();
    TagShCall& c = Line(kAnalog);
    sim_->Ring(kAnalog, "13912345678", "");
    EXPECT_EQ(c.WaitRing(1), 0);
    EXPECT_EQ(c.callerId, "13912345678");
    EXPECT_EQ(sim_->Channel(kAnalog)->state, kChTalking);
    c.Hangup();
    // A burst whose checksum is wrong gives no caller.
    std::vector<uint8_t> bad = {0x04, 0x0C, '0', '1', '0', '1', '1', '2', '0', '0', '5', '5', '5', '1', 0x00};
    sim_->RingFsk(kAnalog, bad);
    std::string caller, called;
    EXPECT_EQ(c.IsRinging(caller, called), 1);
    EXPECT_TRUE(caller.empty());
}

TEST_F(CardTest, RingAnswersOnceAndNotAfterThePreAnswerStepHungUp) {
    Start("PendingMode=1\n");
    TagShCall& c = Line(kIsup);
    sim_->Ring(kIsup, "8001", "5000");
    EXPECT_EQ(c.IsRings(1), 1);
    EXPECT_EQ(Calls("SsmAnswer").size(), 1u);
    c.Hangup();

    // The channel leaves the pending state before the pre-answer step: no answer on a hung-up line.
    sim_->ClearJournal();
    Start();
    VirtualClock clock;
    ScopedClock use(&clock);
    TagShCall& d = Line(2);
    sim_->Ring(2, "8001", "5000");
    sim_->Fail("SsmGetChState", 0, 0, 1); // the ring is seen, then the line is idle
    EXPECT_EQ(d.WaitRing(1), 0);
    EXPECT_EQ(d.callState, kCallReleased);
    EXPECT_TRUE(Calls("SsmAnswer").empty());
    EXPECT_GE(clock.Ticks(), 10000u); // the pending state was waited for 10 s
}

TEST_F(CardTest, DialOutcomes) {
    Start();
    VirtualClock clock(0, false);
    ScopedClock use(&clock);
    auto outcome = [&](int32_t ch, const char* number, auto far) {
        int r = 99;
        std::thread t = RunWaiting(clock, [&] { r = Line(ch).OutCall(number, 0, 0); });
        far();
        t.join();
        return r;
    };
    // ISUP: the IAM goes out with the label, the circuit and both numbers.
    Line(kIsup).SetCallerId("8001");
    EXPECT_EQ(outcome(kIsup, "12345", [&] { sim_->FarAnswer(kIsup); }), 0);
    EXPECT_EQ(Line(kIsup).callState, kCallConnected);
    EXPECT_EQ(Line(kIsup).sigRecvLen, 1); // the answer record
    EXPECT_EQ(Hex(sim_->Channel(kIsup)->isupSent.at(0)), "85000000000000010200"
                                                         "010060"
                                                         "00F1"
                                                         "0302"
                                                         "07"
                                                         "05"
                                                         "8310"
                                                         "2143F5"
                                                         "370103"
                                                         "31020000"
                                                         "0A"
                                                         "04"
                                                         "0113"
                                                         "0810"
                                                         "080100"
                                                         "390237C0"
                                                         "00");
    Line(kIsup).Hangup();
    EXPECT_EQ(outcome(2, "12345", [&] { sim_->FarReject(2, 21); }), -6);
    EXPECT_EQ(Line(2).cause, 21);
    EXPECT_EQ(Hex({Line(2).sigRaw, Line(2).sigRaw + Line(2).sigRecvLen}), "0C020002809500");
    EXPECT_EQ(outcome(3, "12345", [&] { sim_->FarBusy(3); }), -6);
    EXPECT_EQ(Line(3).cause, 17);
    EXPECT_EQ(outcome(4, "12345", [&] { sim_->FarNoAnswer(4); }), -6);
    EXPECT_EQ(Line(4).cause, 19);

    // Analogue: busy, no answer, no dial tone, and the 45 s connect wait.
    TagShCall& a = Line(kAnalog);
    a.dialOn[0] = 1; // no colour-ring check
    EXPECT_EQ(outcome(kAnalog, "5551234", [&] { sim_->FarBusy(kAnalog); }), -3);
    EXPECT_EQ(outcome(kAnalog, "5551234", [&] { sim_->FarNoAnswer(kAnalog); }), -2);
    EXPECT_EQ(outcome(kAnalog, "5551234", [&] { sim_->FarNoDialTone(kAnalog); }), -1);
    a.dialOn[0] = 0;
    EXPECT_EQ(outcome(kAnalog, "5551234", [&] { clock.Advance(45001); }), -2);
    EXPECT_EQ(a.callState, kCallReleased);
    a.dialOn[0] = 1;
    EXPECT_EQ(outcome(kAnalog, "13512345678", [&] { sim_->FarAnswer(kAnalog); }), 0);
    EXPECT_EQ(a.mobile, 1);
    EXPECT_EQ(sim_->Channel(kAnalog)->dialled, "13512345678");
}

TEST_F(CardTest, WaitsOnTheCardRunOnTheClock) {
    Start();
    VirtualClock clock;
    ScopedClock use(&clock);
    TagShCall& c = Line(kIsup);
    // A pending flag without a pending channel: the pre-answer step gives up after 10 s.
    c.pending = 1;
    EXPECT_EQ(c.SetCharge(1), -1);
    EXPECT_GE(clock.Ticks(), 10000u);
    // A channel that stays busy is not dialled: 40 s for it to be idle.
    sim_->Ring(3, "1", "2");
    uint32_t t0 = clock.Ticks();
    EXPECT_EQ(Line(3).Dial("123"), -1);
    EXPECT_GE(clock.Ticks() - t0, 40000u);
    // An FSK send the card never finishes ends after 30 s.
    sim_->Fail("SsmChkSendFsk", 0, 0);
    sim_->Ring(4, "1", "2");
    Line(4).WaitRing(1);
    t0 = clock.Ticks();
    EXPECT_EQ(Line(4).SendFskMsg(1, "abc", 0), -200);
    EXPECT_GE(clock.Ticks() - t0, 30000u);
    // The colour-ring check: silence is a person on the line; ringback music runs into its 14.9 s limit.
    EXPECT_EQ(Line(kAnalog).CheckColorRing(), 1);
    sim_->FeedBytes(kAnalog, std::vector<uint8_t>(MsToBytes(20000), 0xAA));
    t0 = clock.Ticks();
    EXPECT_EQ(Line(kAnalog).CheckColorRing(), 0);
    EXPECT_GE(clock.Ticks() - t0, 14000u);
}

TEST_F(CardTest, OversizedScriptIamIsRefused) {
    Start();
    VirtualClock clock(0, false);
    ScopedClock use(&clock);
    TagShCall& c = Line(kIsup);
    std::vector<uint8_t> data(295, 0);
    data[0] = 0x01;
    c.SetSigRawData(data.data(), int32_t(data.size()));
    std::thread t = RunWaiting(clock, [&] { c.OutCall("12345", 0, 0); });
    sim_->FarAnswer(kIsup);
    t.join();
    // The built message went instead of 10 + 295 bytes.
    EXPECT_EQ(sim_->Channel(kIsup)->isupSent.at(0)[10], 0x01);
    EXPECT_LT(sim_->Channel(kIsup)->isupSent.at(0).size(), size_t(100));
    EXPECT_EQ(c.sigSendLen, 0);
}

} // namespace zz::test
