// Every builtin ordinal builds the class of its table row, in its constructor form, with the exact count.
#include <cxxabi.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <typeinfo>
#include <vector>

#include "LineFixture.h"
#include "builtins/BuiltinTable.h"
#include "builtins/FixedAtCompile.h"
#include "builtins/UserDll.h"
#include "engine/TagKeyword.h"

namespace zz {
namespace {

struct Row {
    int32_t ordinal;
    const char* keyword;
    int32_t args;
    char kind;
    const char* cls;
    char form; // P no program, L the line's root, E the compiling program itself, 0 no operand at all
};

const Row kRows[] = {
    {24, "Type", 2, 'g', "TagType", 'P'},
    {25, "Int", 2, 'g', "TagInt", 'P'},
    {26, "Float", 2, 'v', "TagFloat", 'P'},
    {27, "Str", 4, 'v', "TagStr", 'P'},
    {28, "Strlen", 2, 'g', "TagStrlen", 'P'},
    {29, "Substr", 4, 'v', "TagSubstr", 'P'},
    {30, "Datetime", 5, 'g', "TagDatetime", 'P'},
    {31, "GetTick", 1, 'g', "TagGetTick", 'P'},
    {32, "AfterDaysDate", 3, 'g', "TagAfterDaysDate", 'P'},
    {33, "Trim", 1, 'g', "TagTrim", 'P'},
    {34, "Asc", 3, 'g', "TagAsc", 'P'},
    {35, "Chr", 2, 'v', "TagChr", 'P'},
    {36, "Replstr", 4, 'g', "TagReplstr", 'P'},
    {37, "Repeatstr", 3, 'g', "TagRepeatstr", 'P'},
    {38, "Strstr", 3, 'g', "TagStrstr", 'P'},
    {39, "StrstrEx", 4, 'g', "TagStrstrEx", 'P'},
    {40, "Strcmp", 4, 'g', "TagStrcmp", 'P'},
    {41, "Len", 2, 'g', "TagStrlen", 'P'},
    {42, "GetMapItem", 4, 'g', "TagGetMapItem", 'P'},
    {43, "Rand", 1, 'g', "TagRand", 'P'},
    {44, "AnlyStr", 3, 'g', "TagAnlyStr", 'P'},
    {45, "Eval", 1, 'R', "TagEval", 'E'},
    {46, "StrToUnicode", 3, 'g', "TagStrToUnicode", 'P'},
    {47, "UnicodeToStr", 3, 'g', "TagUnicodeToStr", 'P'},
    {48, "Hex", 3, 'g', "TagHex", 'P'},
    {49, "Upper", 1, 'g', "TagUpper", 'P'},
    {50, "Lower", 1, 'g', "TagLower", 'P'},
    {51, "Time", 0, 'g', "TagTime", '0'},
    {52, "GetDateStr", 4, 'g', "TagGetDateStr", 'P'},
    {53, "MakeTime", 6, 'g', "TagMakeTime", 'P'},
    {54, "Ereg", 4, 'g', "TagEreg", 'P'},
    {55, "EregRepl", 4, 'g', "TagEregRepl", 'P'},
    {56, "EregSplit", 3, 'g', "TagEregSplit", 'P'},
    {57, "DbOpen", 6, 'g', "TagDbOpen", 'L'},
    {58, "DbExec", 2, 'g', "TagDbExec", 'L'},
    {59, "DbRows", 2, 'g', "TagDbRows", 'L'},
    {60, "DbGetField", 4, 'g', "TagDbGetField", 'L'},
    {61, "DbSetField", 4, 'g', "TagDbSetField", 'L'},
    {62, "DbClose", 1, 'g', "TagDbClose", 'L'},
    {63, "DbCloseAll", 0, 'g', "TagDbCloseAll", 'L'},
    {64, "DbSetDebug", 2, 'g', "TagDbSetDebug", 'L'},
    {65, "DbExecMap", 5, 'g', "TagDbExecMap", 'L'},
    {66, "SelectLan", 1, 'g', "TagSelectLan", 'L'},
    {67, "SetSndDir", 3, 'g', "TagSetSndDir", 'L'},
    {68, "SetBreak", 1, 'g', "TagSetBreak", 'L'},
    {69, "SetEndKey", 1, 'g', "TagSetEndKey", 'L'},
    {70, "SetKeyTime", 1, 'g', "TagSetKeyTime", 'L'},
    {71, "SetTimeoutVoc", 1, 'g', "TagSetTimeoutVoc", 'L'},
    {72, "SetNobkringAns", 1, 'g', "TagSetNobkringAns", 'L'},
    {73, "SetVolume", 2, 'g', "TagSetVolume", 'L'},
    {74, "SetBusyPara", 3, 'g', "TagSetBusyPara", 'L'},
    {75, "SetRingbackPara", 3, 'g', "TagSetRingbackPara", 'L'},
    {76, "SetSignalFreqPara", 3, 'g', "TagSetSignalFreqPara", 'L'},
    {77, "SetSndExt", 1, 'g', "TagSetSndExt", 'L'},
    {78, "SetPlayToFile", 1, 'g', "TagSetPlayToFile", 'L'},
    {79, "SetDispKeys", 1, 'g', "TagSetDispKeys", 'L'},
    {80, "SetCallerId", 1, 'g', "TagSetCallerId", 'L'},
    {81, "SetFirstCalleeId", 2, 'g', "TagSetFirstCalleeId", 'L'},
    {82, "SetSubAddr", 2, 'g', "TagSetSubAddr", 'L'},
    {83, "SetCharge", 1, 'g', "TagSetCharge", 'L'},
    {84, "GetCurSndDir", 2, 'g', "TagGetCurSndDir", 'L'},
    {85, "SetHangupCause", 1, 'g', "TagSetHangupCause", 'L'},
    {86, "SetCallType", 1, 'g', "TagSetCallType", 'L'},
    {87, "SetRecPos", 1, 'g', "TagSetRecPos", 'L'},
    {88, "LoadVocFile", 2, 'g', "TagLoadVocFile", 'L'},
    {89, "UnloadVocFile", 2, 'g', "TagUnloadVocFile", 'L'},
    {90, "Play", 1, 'g', "TagPlay", 'L'},
    {91, "Record", 2, 'g', "TagRecord", 'L'},
    {92, "WaitRing", 1, 'g', "TagWaitRing", 'L'},
    {93, "IsRings", 1, 'g', "TagIsRings", 'L'},
    {94, "IsRinging", 2, 'g', "TagIsRinging", 'L'},
    {95, "Answer", 1, 'g', "TagAnswer", 'L'},
    {96, "GetKeys", 3, 'g', "TagGetKeys", 'L'},
    {97, "SetKeys", 1, 'g', "TagSetKeys", 'L'},
    {98, "SetStarToPoint", 1, 'g', "TagSetStarToPoint", 'L'},
    {99, "OutCall", 1, 'g', "TagOutCall", 'L'},
    {100, "CheckDial", 0, 'g', "TagCheckDial", 'L'},
    {101, "Dial", 1, 'g', "TagDial", 'L'},
    {102, "SetTones", 10, 'g', "TagSetTones", 'L'},
    {103, "ClearTones", 0, 'g', "TagClearTones", 'L'},
    {104, "SetDialOn", 2, 'g', "TagSetDialOn", 'L'},
    {105, "SetDialFailedTo", 1, 'g', "TagSetDialFailedTo", 'L'},
    {106, "Hangup", 0, 'g', "TagHangup", 'L'},
    {107, "SipGetDestAddr", 2, 'g', "TagSipGetDestAddr", 'L'},
    {108, "SipGetAccAddr", 4, 'g', "TagSipGetAccAddr", 'L'},
    {109, "SipGetPeerMsg", 2, 'g', "TagSipGetPeerMsg", 'L'},
    {110, "SipSetDialRoute", 2, 'g', "TagSipSetDialRoute", 'L'},
    {111, "SipSetRtpAddr", 3, 'g', "TagSipSetRtpAddr", 'L'},
    {112, "SipGetRtpCount", 2, 'g', "TagSipGetRtpCount", 'L'},
    {113, "SetOnSipGetAccPwd", 1, 'g', "TagSipOnGetAccPwd", 'L'},
    {114, "SetOnSipGetAccPwdIp", 1, 'g', "TagSipOnGetAccPwdIp", 'L'},
    {115, "SetOnSipRegisterNotify", 1, 'g', "TagSipOnRegisterNotify", 'L'},
    {116, "ImSend", 3, 'g', "TagImSend", 'L'},
    {117, "ImTest", 0, 'g', "TagImTest", 'L'},
    {118, "ImRead", 4, 'g', "TagImRead", 'L'},
    {119, "ImRecv", 2, 'g', "TagImRecv", 'L'},
    {120, "ImMsgGetField", 3, 'v', "TagImMsgGetField", 'L'},
    {121, "ImMakeAns", 6, 'g', "TagImMakeAns", 'L'},
    {122, "ImMsgFree", 1, 'g', "TagImMsgFree", 'L'},
    {123, "ImMakeReq", 9, 'g', "TagImMakeReq", 'L'},
    {124, "ImFileSend", 6, 'g', "TagImFileSend", 'L'},
    {125, "ImFileRecv", 9, 'g', "TagImFileRecv", 'L'},
    {126, "ImFileCheck", 3, 'g', "TagImFileCheck", 'L'},
    {127, "ImFileEnd", 1, 'g', "TagImFileEnd", 'L'},
    {128, "ImFileProcAnswer", 1, 'g', "TagImFileProcAnswer", 'L'},
    {129, "JoinConf", 2, 'g', "TagJoinConf", 'L'},
    {130, "ExitConf", 0, 'g', "TagExitConf", 'L'},
    {131, "GetConfNum", 2, 'g', "TagGetConfNum", 'L'},
    {132, "IsInConf", 3, 'g', "TagIsInConf", 'L'},
    {133, "RecConf", 2, 'g', "TagRecConf", 'L'},
    {134, "RecConfCh", 3, 'g', "TagRecConfCh", 'L'},
    {135, "PlayConf", 3, 'g', "TagPlayConf", 'L'},
    {136, "SipProxyRecv", 4, 'g', "TagSipProxyRecv", 'L'},
    {137, "SipProxyGetField", 3, 'v', "TagSipProxyGetField", 'L'},
    {138, "SipProxyAddField", 4, 'g', "TagSipProxyAddField", 'L'},
    {139, "SipProxyRemoveField", 2, 'g', "TagSipProxyRemoveField", 'L'},
    {140, "SipProxySend", 2, 'g', "TagSipProxySend", 'L'},
    {141, "SipProxySendEx", 3, 'g', "TagSipProxySendEx", 'L'},
    {142, "SipProxyDirAns", 3, 'g', "TagSipProxyDirAns", 'L'},
    {143, "SipProxySendKeepAlives", 2, 'g', "TagSipProxySendKeepAlives", 'L'},
    {144, "SipUnregisterSpecUser", 1, 'g', "TagSipUnregisterSpecUser", 'L'},
    {145, "PlayNumber", 2, 'g', "TagPlayNumber", 'L'},
    {146, "TrimVocFile", 1, 'g', "TagTrimVocFile", 'L'},
    {147, "MixVocFile", 6, 'g', "TagMixVocFile", 'L'},
    {148, "Sleep", 1, 'g', "TagSleep", 'L'},
    {149, "SetFaxLocalId", 1, 'g', "TagSetFaxLocalId", 'L'},
    {150, "GetFaxResource", 2, 'g', "TagGetFaxResource", 'L'},
    {151, "SendFax", 1, 'g', "TagSendFax", 'L'},
    {152, "RecvFax", 1, 'g', "TagRecvFax", 'L'},
    {153, "Txt2FaxFile", 3, 'g', "TagTxt2FaxFile", 'P'},
    {154, "StartLoopPlay", 1, 'g', "TagStartLoopPlay", 'L'},
    {155, "ReLoopPlay", 0, 'g', "TagReLoopPlay", 'L'},
    {156, "Stop", 0, 'g', "TagStopPlay", 'L'},
    {157, "PcPlay", 2, 'g', "TagPcPlay", 'L'},
    {158, "ClearKeys", 0, 'g', "TagClearKeys", 'L'},
    {159, "KeysLen", 1, 'g', "TagKeysLen", 'L'},
    {160, "IsPcPlayEnd", 1, 'g', "TagIsPcPlayEnd", 'L'},
    {161, "SetTtsPara", 3, 'g', "TagSetTtsPara", 'L'},
    {162, "TxtSpeak", 3, 'g', "TagTxtSpeak", 'L'},
    {163, "PcTxtSpeak", 3, 'g', "TagTxtSpeak", 'L'},
    {164, "TxtSpeakToFile", 4, 'g', "TxtSpeakToFile", 'L'},
    {165, "EnableLineSpeaker", 1, 'g', "TagEnableLineSpeaker", 'L'},
    {166, "OpenLine", 0, 'g', "TagOpenLine", 'L'},
    {167, "CloseLine", 0, 'g', "TagCloseLine", 'L'},
    {168, "StartRecord", 2, 'g', "TagStartRecord", 'L'},
    {169, "GetCallerId", 1, 'g', "TagGetCallerId", 'L'},
    {170, "GetCalleeId", 1, 'g', "TagGetCalleeId", 'L'},
    {171, "GetFirstCalleeId", 1, 'g', "TagGetFirstCalleeId", 'L'},
    {172, "LinkTo", 2, 'g', "TagLinkTo", 'L'},
    {173, "ListenTo", 2, 'g', "TagListenTo", 'L'},
    {174, "UnlinkTo", 2, 'g', "TagUnlinkTo", 'L'},
    {175, "UnlinkAll", 0, 'g', "TagUnlinkAll", 'L'},
    {176, "GetLinkList", 3, 'g', "TagGetLinkList", 'L'},
    {177, "MakeRing", 1, 'g', "TagMakeRing", 'L'},
    {178, "GetHookState", 0, 'g', "TagGetHookState", 'L'},
    {179, "TransferTo", 1, 'g', "TagTransferTo", 'L'},
    {180, "TcpOpen", 4, 'g', "TagTcpOpen", 'L'},
    {181, "TcpClose", 1, 'g', "TagTcpClose", 'L'},
    {182, "TcpCloseAll", 0, 'g', "TagTcpCloseAll", 'L'},
    {183, "TcpWrite", 4, 'g', "TagTcpWrite", 'L'},
    {184, "TcpTest", 2, 'g', "TagTcpTest", 'L'},
    {185, "TcpRead", 3, 'g', "TagTcpRead", 'L'},
    {186, "Http", 6, 'g', "TagHttp", 'L'},
    {187, "HttpServerOpen", 1, 'g', "TagHttpServerOpen", 'L'},
    {188, "HttpServerRecv", 4, 'g', "TagHttpServerRecv", 'L'},
    {189, "HttpServerSend", 3, 'g', "TagHttpServerSend", 'L'},
    {190, "HttpServerClose", 1, 'g', "TagHttpServerClose", 'L'},
    {191, "TcpServer", 3, 'g', "TagTcpServer", 'L'},
    {192, "TcpAccept", 3, 'g', "TagTcpAccept", 'L'},
    {193, "IntToNetstr", 3, 'g', "TagIntToNetstr", 'P'},
    {194, "NetstrToInt", 4, 'g', "TagNetstrToInt", 'P'},
    {195, "UdpOpen", 1, 'g', "TagUdpOpen", 'L'},
    {196, "UdpClose", 1, 'g', "TagUdpClose", 'L'},
    {197, "UdpSend", 4, 'g', "TagUdpSend", 'L'},
    {198, "UdpRecv", 4, 'g', "TagUdpRecv", 'L'},
    {199, "UdpTest", 1, 'g', "TagUdpTest", 'L'},
    {200, "PcGetKeys", 3, 'g', "TagPcGetKeys", 'L'},
    {201, "PcPlayNumber", 2, 'g', "TagPlayNumber", 'L'},
    {202, "DispInfo", 2, 'g', "TagDispInfo", 'P'},
    {203, "SetDispColor", 2, 'g', "TagSetDispColor", 'P'},
    {204, "PcSetKeys", 2, 'g', "TagPcSetKeys", 'P'},
    {205, "TextFileAppend", 3, 'g', "TagTextFileAppend", 'L'},
    {206, "TextFileClose", 1, 'g', "TagTextFileClose", 'P'},
    {207, "FileMove", 2, 'g', "TagFileMove", 'P'},
    {208, "FileCopy", 2, 'g', "TagFileCopy", 'P'},
    {209, "FileLenTime", 3, 'g', "TagFileLenTime", 'P'},
    {210, "IsDirExist", 2, 'g', "TagIsDirExist", 'P'},
    {211, "MakeDir", 1, 'g', "TagMakeDir", 'P'},
    {212, "RemoveDir", 1, 'g', "TagRemoveDir", 'P'},
    {213, "GetCurWorkDir", 1, 'g', "TagGetCurWorkDir", 'P'},
    {214, "SetCurWorkDir", 1, 'g', "TagSetCurWorkDir", 'P'},
    {215, "Exec", 3, 'g', "TagExec", 'L'},
    {216, "DllLoad", 2, 'g', "TagDllLoad", 'L'},
    {217, "DllFunction", 3, 'g', "TagDllFunction", 'L'},
    {218, "DllFree", 1, 'g', "TagDllFree", 'L'},
    {219, "DllFreeAll", 0, 'g', "TagDllFreeAll", 'L'},
    {220, "RunKvs", 1, 'g', "TagRunKvs", 'L'},
    {221, "SetRunKvsEnvt", 1, 'g', "TagSetRunKvsEnvt", 'L'},
    {222, "RunLine", 1, 'g', "TagRunLine", 'L'},
    {223, "FileOpen", 3, 'g', "TagFileOpen", 'L'},
    {224, "FileClose", 1, 'g', "TagFileClose", 'L'},
    {225, "FileCloseAll", 0, 'g', "TagFileCloseAll", 'L'},
    {226, "FileRead", 3, 'g', "TagFileRead", 'L'},
    {227, "FileReadLine", 2, 'g', "TagFileReadLine", 'L'},
    {228, "FileReadLines", 2, 'g', "TagFileReadLines", 'L'},
    {229, "FileMapLines", 2, 'g', "TagFileMapLines", 'L'},
    {230, "FileSeek", 2, 'g', "TagFileSeek", 'L'},
    {231, "FileWrite", 2, 'g', "TagFileWrite", 'L'},
    {232, "GetDiskSpace", 3, 'g', "TagGetDiskSpace", 'P'},
    {233, "GetMemInfo", 4, 'g', "TagGetMemInfo", 'P'},
    {234, "GetFileList", 4, 'g', "TagGetFileList", 'P'},
    {235, "SendMsg", 4, 'g', "TagSendMsg", 'L'},
    {236, "RecvMsg", 7, 'g', "TagRecvMsg", 'L'},
    {237, "RecvMsgForType", 7, 'g', "TagRecvMsgForType", 'L'},
    {238, "RecvMsgForField", 9, 'g', "TagRecvMsgForField", 'L'},
    {239, "RecvMsgFor2Field", 12, 'g', "TagRecvMsgFor2Field", 'L'},
    {240, "ClearMsg", 2, 'g', "TagClearMsg", 'L'},
    {241, "ClearMsgFrom", 3, 'g', "TagClearMsgFrom", 'L'},
    {242, "ClearMsgForType", 3, 'g', "TagClearMsgForType", 'L'},
    {243, "ClearMsgForField", 4, 'g', "TagClearMsgForField", 'L'},
    {244, "GetMsgNum", 3, 'g', "TagGetMsgNum", 'L'},
    {245, "GetMsgNumForType", 4, 'g', "TagGetMsgNumForType", 'L'},
    {246, "GetMsgNumForField", 5, 'g', "TagGetMsgNumForField", 'L'},
    {247, "SetMsgField", 2, 'g', "TagSetMsgField", 'L'},
    {248, "GetMsgField", 2, 'g', "TagGetMsgField", 'L'},
    {249, "GetMsgFieldVal", 1, 'v', "TagGetMsgFieldVal", 'L'},
    {250, "CountMsg", 4, 'g', "TagCountMsg", 'L'},
    {251, "ReadMsg", 6, 'g', "TagReadMsg", 'L'},
    {252, "ReadMsgFor", 6, 'g', "TagReadMsgFor", 'L'},
    {253, "WriteMsg", 6, 'g', "TagWriteMsg", 'L'},
    {254, "SetMsgOrderBy", 4, 'g', "TagSetMsgOrderBy", 'L'},
    {255, "AcdListSend", 2, 'g', "TagAcdListSend", 'L'},
    {256, "AcdListRead", 0, 'g', "TagAcdListRead", 'L'},
    {257, "AcdListWrite", 4, 'g', "TagAcdListWrite", 'L'},
    {258, "AcdListRecv", 2, 'g', "TagAcdListRecv", 'L'},
    {259, "AcdListClear", 2, 'g', "TagAcdListClear", 'L'},
    {260, "AcdListNum", 1, 'g', "TagAcdListNum", 'L'},
    {261, "GetShareMem", 3, 'g', "TagGetShareMem", 'L'},
    {262, "SetShareMem", 3, 'g', "TagSetShareMem", 'L'},
    {263, "ClearShareMem", 1, 'g', "TagClearShareMem", 'L'},
    {264, "IncShareMem", 4, 'g', "TagIncShareMem", 'L'},
    {265, "DecShareMem", 4, 'g', "TagDecShareMem", 'L'},
    {266, "FindShareMem", 3, 'g', "TagFindShareMem", 'L'},
    {267, "AccShareMem", 4, 'g', "TagAccShareMem", 'L'},
    {268, "InterLineCall", 4, 'g', "TagInterLineCall", 'L'},
    {269, "InterLineServer", 1, 'g', "TagInterLineServer", 'L'},
    {270, "GetSysInfo", 1, 'g', "TagGetSysInfo", 'L'},
    {271, "GetSysInfoVal", 2, 'g', "TagGetSysInfoVal", 'L'},
    {272, "Print", 1, 'g', "TagPrint", 'L'},
    {273, "SetPrintTo", 1, 'g', "TagSetPrintTo", 'L'},
    {274, "PspToKvs", 3, 'g', "TagRunPsp", 'L'},
    {275, "SetMaxTalkTime", 1, 'g', "TagSetMaxTalkTime", 'L'},
    {276, "GetSigRawData", 1, 'g', "TagGetSigRawData", 'L'},
    {277, "SetSigRawData", 2, 'g', "TagSetSigRawData", 'L'},
    {278, "SetSigPara", 2, 'g', "TagSetSigPara", 'L'},
    {279, "SipGetAccStat", 1, 'g', "TagSipGetAccStat", 'L'},
    {280, "SendFskMsg", 3, 'g', "TagSendFskMsg", 'L'},
    {281, "RecvFskMsg", 3, 'g', "TagRecvFskMsg", 'L'},
};

std::string ClassOf(const TagOper& op) {
    int status = 0;
    char* d = abi::__cxa_demangle(typeid(op).name(), nullptr, nullptr, &status);
    std::string s = d ? d : typeid(op).name();
    std::free(d);
    return s.rfind("zz::", 0) == 0 ? s.substr(4) : s;
}

struct Args {
    explicit Args(int32_t n) : vars(static_cast<size_t>(n + 1)) {
        for (auto& v : vars)
            ptrs.push_back(&v);
    }
    std::vector<TagVar> vars;
    std::vector<TagVar*> ptrs;
};

TEST(BuiltinTable, EveryOrdinalBuildsItsClassInItsForm) {
    test::LineFixture line;
    ASSERT_EQ(std::size(kRows), 258u);
    for (const Row& r : kRows) {
        SCOPED_TRACE(r.keyword);
        const RecKeyword* rec = g_keyword.At(r.ordinal);
        ASSERT_NE(rec, nullptr);
        std::string name = std::string(r.keyword) + "(";
        EXPECT_STREQ(rec->name, name.c_str());
        EXPECT_EQ(rec->argCount, r.args);
        EXPECT_EQ(rec->kind, r.kind);
        EXPECT_EQ(BuiltinArgCount(r.ordinal), r.args);

        Args a(r.args);
        const char* msg = "untouched";
        auto op = MakeBuiltinOper(r.ordinal, a.ptrs.data(), r.args, &line.func, &msg);
        ASSERT_NE(op, nullptr);
        EXPECT_EQ(msg, nullptr);
        EXPECT_EQ(ClassOf(*op), r.cls);
        EXPECT_EQ(op->kind, r.kind);
        auto* b = dynamic_cast<TagBuiltin*>(op.get());
        if (r.form == '0') {
            EXPECT_EQ(b, nullptr);
            continue;
        }
        ASSERT_NE(b, nullptr);
        EXPECT_STREQ(b->builtinName, rec->name);
        ASSERT_EQ(b->OperandCount(), r.args);
        for (int32_t i = 0; i < r.args; ++i)
            EXPECT_EQ(&b->Operand(i), a.ptrs[static_cast<size_t>(i)]) << "operand " << i;
        TagTelBasic* expect = r.form == 'L' ? &line.main : r.form == 'E' ? &line.func : nullptr;
        EXPECT_EQ(b->Program(), expect);
    }
}

TEST(BuiltinTable, OnlyBuiltinOrdinalsAreInTheTable) {
    for (int32_t ord : {-1, 0, 13, 16, 19, 20, 282, 1000}) {
        const char* msg = nullptr;
        EXPECT_EQ(MakeBuiltinOper(ord, nullptr, 0, nullptr, &msg), nullptr);
        EXPECT_STREQ(msg, "语法错误");
        EXPECT_EQ(BuiltinArgCount(ord), -1);
    }
}

TEST(BuiltinTable, WrongCountsAreRefusedWithTheCompilerMessages) {
    test::LineFixture line;
    for (const Row& r : kRows) {
        SCOPED_TRACE(r.keyword);
        Args a(r.args + 1);
        const char* msg = nullptr;
        EXPECT_EQ(MakeBuiltinOper(r.ordinal, a.ptrs.data(), r.args + 1, &line.main, &msg), nullptr);
        EXPECT_STREQ(msg, "操作参数太多");
        if (r.args > 0) {
            msg = nullptr;
            EXPECT_EQ(MakeBuiltinOper(r.ordinal, a.ptrs.data(), r.args - 1, &line.main, &msg), nullptr);
            EXPECT_STREQ(msg, "操作参数不够");
        }
    }
    // The messages go into errmsg files as GBK bytes.
    const char* msg = nullptr;
    Args b(2);
    MakeBuiltinOper(90, b.ptrs.data(), 2, &line.main, &msg);
    EXPECT_STREQ(msg, "\xB2\xD9\xD7\xF7\xB2\xCE\xCA\xFD\xCC\xAB\xB6\xE0");
    MakeBuiltinOper(91, b.ptrs.data(), 1, &line.main, &msg);
    EXPECT_STREQ(msg, "\xB2\xD9\xD7\xF7\xB2\xCE\xCA\xFD\xB2\xBB\xB9\xBB");
    // Hangup takes an empty list; Play needs its one argument.
    Args a(1);
    EXPECT_NE(MakeBuiltinOper(106, nullptr, 0, &line.main, nullptr), nullptr);
    EXPECT_EQ(MakeBuiltinOper(106, a.ptrs.data(), 1, &line.main, nullptr), nullptr);
    msg = nullptr;
    EXPECT_EQ(MakeBuiltinOper(90, nullptr, 0, &line.main, &msg), nullptr);
    EXPECT_STREQ(msg, "操作参数不够");
}

TEST(BuiltinTable, SharedClassesAndPcFlagsFollowTheLineKind) {
    for (int8_t kind : {kLineVirtual, kLineAnalogTrunk, kLineSip}) {
        SCOPED_TRACE(static_cast<int>(kind));
        test::LineFixture line(3, kind);
        const bool pc = kind == kLineVirtual;
        Args a(3);
        // In a function unit the parent's call object decides.
        auto keys = MakeBuiltinOper(96, a.ptrs.data(), 3, &line.func, nullptr);
        EXPECT_EQ(ClassOf(*keys), pc ? "TagPcGetKeys" : "TagGetKeys");
        EXPECT_EQ(ClassOf(*MakeBuiltinOper(200, a.ptrs.data(), 3, &line.func, nullptr)), "TagPcGetKeys");

        auto num = MakeBuiltinOper(145, a.ptrs.data(), 2, &line.func, nullptr);
        EXPECT_EQ(dynamic_cast<TagPlayNumber&>(*num).pcFlag, pc ? 1 : 0);
        auto pcNum = MakeBuiltinOper(201, a.ptrs.data(), 2, &line.func, nullptr);
        EXPECT_EQ(dynamic_cast<TagPlayNumber&>(*pcNum).pcFlag, 1);

        auto speak = MakeBuiltinOper(162, a.ptrs.data(), 3, &line.func, nullptr);
        EXPECT_EQ(dynamic_cast<TagTxtSpeak&>(*speak).pcFlag, pc ? 1 : 0);
        auto pcSpeak = MakeBuiltinOper(163, a.ptrs.data(), 3, &line.func, nullptr);
        EXPECT_EQ(dynamic_cast<TagTxtSpeak&>(*pcSpeak).pcFlag, 1);
    }
}

TEST(BuiltinTable, DisplayBuiltinsKeepTheLineOfTheScriptThatHoldsThem) {
    test::LineFixture line(12);
    Args a(2);
    auto info = MakeBuiltinOper(202, a.ptrs.data(), 2, &line.func, nullptr);
    EXPECT_EQ(dynamic_cast<TagDispInfo&>(*info).displayLine, 12);
    auto color = MakeBuiltinOper(203, a.ptrs.data(), 2, &line.main, nullptr);
    EXPECT_EQ(dynamic_cast<TagSetDispColor&>(*color).displayLine, 12);
}

TEST(BuiltinTable, RunKvsProgramsActOnTheCallingLine) {
    test::LineFixture caller;
    TagTelBasic started;
    TagTelBasic startedFunc("b.kvs", "g", &started);
    started.calledProgram = 1;
    started.callingProgram = &caller.main;
    Args a(6);
    // Form L reaches the caller; RunKvs itself goes one level up only.
    auto db = MakeBuiltinOper(57, a.ptrs.data(), 6, &startedFunc, nullptr);
    EXPECT_EQ(dynamic_cast<TagBuiltin&>(*db).Program(), &caller.main);
    auto kvs = MakeBuiltinOper(220, a.ptrs.data(), 1, &startedFunc, nullptr);
    EXPECT_EQ(dynamic_cast<TagBuiltin&>(*kvs).Program(), &started);
    auto kvsTop = MakeBuiltinOper(220, a.ptrs.data(), 1, &started, nullptr);
    EXPECT_EQ(dynamic_cast<TagBuiltin&>(*kvsTop).Program(), &started);
    // Eval stays with the unit it stands in.
    auto ev = MakeBuiltinOper(45, a.ptrs.data(), 1, &startedFunc, nullptr);
    EXPECT_EQ(dynamic_cast<TagBuiltin&>(*ev).Program(), &startedFunc);
}

TEST(BuiltinTable, RunLineAndInterLineServerKeepNeverCalledFunctions) {
    for (int32_t ord : {222, 269}) {
        test::LineFixture line;
        EXPECT_EQ(line.main.optimize, 1);
        Args a(1);
        ASSERT_NE(MakeBuiltinOper(ord, a.ptrs.data(), 1, &line.func, nullptr), nullptr);
        EXPECT_EQ(line.main.optimize, 0);
        EXPECT_EQ(line.func.optimize, 1);
    }
}

TEST(BuiltinTable, DllFunctionDeclaresWhileCompilingAndKeepsTheFirstCount) {
    test::LineFixture line;
    TagVar handle, name, count, name2, count2;
    name.SetStr("Add");
    count.SetInt(2);
    count2.SetStr("5");
    TagVar* first[] = {&handle, &name, &count};
    TagVar* second[] = {&handle, &name, &count2};
    ASSERT_NE(MakeBuiltinOper(217, first, 3, &line.func, nullptr), nullptr);
    ASSERT_NE(MakeBuiltinOper(217, second, 3, &line.main, nullptr), nullptr);
    int32_t n = -1;
    UserLibState& lib = line.main.LineState<UserLibState>();
    EXPECT_EQ(lib.FindFuncName("Add", &n), 0);
    EXPECT_EQ(n, 2);
    name2.SetStr("Mul");
    TagVar* third[] = {&handle, &name2, &count2};
    ASSERT_NE(MakeBuiltinOper(217, third, 3, &line.main, nullptr), nullptr);
    EXPECT_EQ(lib.FindFuncName("Mul", &n), 1);
    EXPECT_EQ(n, 5);
    EXPECT_TRUE(line.func.FindLineState<UserLibState>() == &lib) << "a function unit reaches its line's table";
}

// A builtin declared with the base Run, as a table row without its behaviour would be.
ZZ_BUILTIN_P(TagNotYetBuilt, 1);

TEST(BuiltinTable, BuiltinsWithoutBehaviourYetAnswerNotAvailable) {
    Args a(1);
    auto op = std::make_unique<TagNotYetBuilt>(a.ptrs[0]);
    op->builtinName = "NotYetBuilt";
    EXPECT_EQ(op->Run(), kBuiltinNotAvailable);
    EXPECT_EQ(op->Run(), kBuiltinNotAvailable);
    // A script tells "not in this build" from every result a builtin gives.
    for (int32_t r :
         {kBuiltinOk, kBuiltinBadArg, kBuiltinBadLine, kBuiltinNoProgram, kBuiltinNoSpeech, kBuiltinNoCompile})
        EXPECT_NE(kBuiltinNotAvailable, r);
    EXPECT_EQ(op->Next(), nullptr);
}

} // namespace
} // namespace zz
