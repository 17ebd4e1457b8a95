// The SIP callback builtins: the script function a line installs runs when the SIP library calls the bridge.
#include <gtest/gtest.h>

#include "builtins/BuiltinTable.h"
#include "tests/engine/HandProgram.h"
#include "telephony/TagKvCall.h"

#include <atomic>
#include <thread>

namespace zz {
namespace {

// A call object that keeps the bridges it is handed, as the SIP library does.
struct BridgeCall : TagKvCall {
    SipAccPwdFn pwd = nullptr;
    SipAccPwdIpFn pwdIp = nullptr;
    SipRegisterNotifyFn notify = nullptr;
    int SipOnGetAccPwd(SipAccPwdFn f) override { return pwd = f, 0; }
    int SipOnGetAccPwdIp(SipAccPwdIpFn f) override { return pwdIp = f, 0; }
    int SipOnRegisterNotify(SipRegisterNotifyFn f) override { return notify = f, 0; }
};

struct Line {
    Line() {
        main->pKvCall = &call;
        main->lineNo = 4;
        RegisterBuiltins();
        // The line's thread waits on its line, as a line waiting for a call does, and takes the callbacks.
        thread = std::thread([this] { call.WaitLine(WakeEvent::kForever, [&] { return quit.load(); }); });
    }
    ~Line() {
        quit = true;
        call.wake.Signal();
        thread.join();
    }
    // Runs the builtin of ordinal with one operand compiled in unit.
    int32_t Install(int32_t ordinal, TagVar* operand, TagTelBasic* unit = nullptr) {
        const char* msg = nullptr;
        TagVar* args[1] = {operand};
        auto op = MakeBuiltinOper(ordinal, args, 1, unit ? unit : main.get(), &msg);
        return op ? op->Run() : -999;
    }
    BridgeCall call;
    std::unique_ptr<TagTelBasic> main = std::make_unique<TagTelBasic>();
    std::atomic<bool> quit{false};
    std::thread thread;
};

constexpr int32_t kSetOnSipGetAccPwd = 113, kSetOnSipGetAccPwdIp = 114, kSetOnSipRegisterNotify = 115;

TEST(SipCallbacks, TheInstalledFunctionAnswersThroughItsParametersAndResult) {
    Line line;
    TagTelBasic* fn = test::AddFunction(*line.main, "pw", {"acc", "pass", "realm"});
    std::string seen;
    test::AppendDo(*fn, [&] {
        seen = fn->ParamValue(0).Str();
        fn->ParamValue(1).SetStr("secret");
        fn->ParamValue(2).SetStr("zuzod");
        return 7;
    });
    EXPECT_EQ(line.Install(kSetOnSipGetAccPwd, test::FuncVar(*line.main, "pw"), fn), 0);
    ASSERT_TRUE(line.call.pwd);
    std::string pass, realm;
    EXPECT_EQ(line.call.pwd("1001", pass, realm), 7);
    EXPECT_EQ(seen, "1001");
    EXPECT_EQ(pass, "secret");
    EXPECT_EQ(realm, "zuzod");

    TagTelBasic* note = test::AddFunction(*line.main, "note", {"user", "contact", "expires", "state"});
    int32_t expires = 0;
    test::AppendDo(*note, [&] {
        expires = note->ParamValue(2).GetInt();
        return 5;
    });
    EXPECT_EQ(line.Install(kSetOnSipRegisterNotify, test::FuncVar(*line.main, "note")), 0);
    EXPECT_EQ(line.call.notify("1001", "sip:1001@127.0.0.1", 3600, 1), 0) << "a notice returns 0";
    EXPECT_EQ(expires, 3600);

    // A variable of another name holding the function installs it as well.
    TagVar alias;
    alias = *test::FuncVar(*line.main, "pw");
    EXPECT_EQ(line.Install(kSetOnSipGetAccPwd, &alias), 0);
    EXPECT_EQ(line.call.pwd("1002", pass, realm), 7);
    EXPECT_EQ(seen, "1002");

    // The line's program goes: its callbacks go with it.
    SipAccPwdFn bridge = line.call.pwd;
    line.main.reset();
    EXPECT_EQ(bridge("1001", pass, realm), -100);
}

TEST(SipCallbacks, ATextOrAFunctionWithTooFewParametersIsNotRun) {
    Line line;
    TagVar* text = nullptr;
    line.main->FindOrCreateVar("notFunction", &text);
    text->SetStr("pw");
    EXPECT_EQ(line.Install(kSetOnSipGetAccPwdIp, text), 0);
    std::string a, b, c;
    EXPECT_EQ(line.call.pwdIp("1001@127.0.0.1:5060", a, b, c), -101);

    int runs = 0;
    TagTelBasic* two = test::AddFunction(*line.main, "two", {"acc", "pass"});
    test::AppendDo(*two, [&] { return ++runs; });
    EXPECT_EQ(line.Install(kSetOnSipGetAccPwd, test::FuncVar(*line.main, "two")), 0);
    EXPECT_EQ(line.call.pwd("1001", a, b), -102);
    EXPECT_EQ(runs, 0);
}

TEST(SipCallbacks, ACallbackNeverRunsBesideTheLinesOwnStatements) {
    // The line's program adds to a counter statement by statement while the SIP library's thread has the
    // installed function add to it too: no addition is lost (and ThreadSanitizer sees no race).
    test::HandLine line;
    RegisterBuiltins();
    int counter = 0, own = 0;
    std::atomic<bool> asked{false};
    TagTelBasic* note = test::AddFunction(line.main, "note", {"user", "contact", "expires", "state"});
    test::AppendDo(*note, [&] { return ++counter; });
    SipRegisterNotifyFn bridge = nullptr;
    struct Keep : TagKvCall {
        SipRegisterNotifyFn* into;
        int SipOnRegisterNotify(SipRegisterNotifyFn f) override { return *into = f, 0; }
    };
    const char* msg = nullptr;
    TagVar* args[1] = {test::FuncVar(line.main, "note")};
    auto install = MakeBuiltinOper(kSetOnSipRegisterNotify, args, 1, &line.main, &msg);
    Keep keep;
    keep.into = &bridge;
    line.main.pKvCall = &keep;
    ASSERT_EQ(install->Run(), 0);
    ASSERT_TRUE(bridge);
    TagOper* head = test::AppendDo(line.main, [&] {
        ++counter;
        if (++own >= 1000 && asked) line.main.endOfRun = true, keep.Attend();
        return 0;
    });
    test::Append(line.main, std::make_unique<test::TagJump>(head));
    std::thread runner([&] { line.main.Run(); });
    for (int i = 0; i < 300; ++i)
        EXPECT_EQ(bridge("1001", "sip:1001@127.0.0.1", 60, 1), 0);
    asked = true;
    keep.Attend();
    runner.join();
    line.main.pKvCall = &line.call; // keep goes first
    EXPECT_EQ(counter, own + 300);
}

} // namespace
} // namespace zz
