// The SIP callback builtins: the script function a line installs runs when the SIP library calls the bridge.
#include <gtest/gtest.h>

#include "builtins/BuiltinTable.h"
#include "tests/engine/HandProgram.h"
#include "telephony/TagKvCall.h"

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

} // namespace
} // namespace zz
