#include "engine/TagKeyword.h"

#include <cstring>
#include <string>
#include <vector>

namespace zz {

namespace {

// 282 records and the empty one that ends the table; name lengths and ordinals are filled at start.
RecKeyword g_table[] = {
    {"else if(", 'E', 0, 1, 0, 0},                // 0
    {"if(", 'i', 0, 1, 0, 0},                     // 1
    {"else", 'e', 0, -1, 0, 0},                   // 2
    {"{", '{', 0, -1, 0, 0},                      // 3
    {"}", '}', 0, -1, 0, 0},                      // 4
    {"while(", 'w', 0, 1, 0, 0},                  // 5
    {"switch(", 's', 0, 1, 0, 0},                 // 6
    {"case(", 'c', 0, 1, 0, 0},                   // 7
    {"default(", 'd', 0, 0, 0, 0},                // 8
    {"break;", 'b', 0, -1, 0, 0},                 // 9
    {"continue;", 'o', 0, -1, 0, 0},              // 10
    {"Close(", 'x', 0, 0, 0, 0},                  // 11
    {"function", 'f', 0, -1, 0, 0},               // 12
    {"return(", 'r', 0, 1, 0, 0},                 // 13
    {"#include", 'g', 0, -1, 0, 0},               // 14
    {"for(", 'w', 0, 3, 0, 0},                    // 15
    {"const", 'n', 0, -1, 0, 0},                  // 16
    {"IsSysQuit(", 'g', 0, 1, 0, 0},              // 17
    {"Exit(", 'g', 0, 1, 0, 0},                   // 18
    {"OnDisconn(", 'g', 0, 0, 0, 0},              // 19
    {"OnSysQuit(", 'g', 0, 0, 0, 0},              // 20
    {"Assert(", 'g', 0, 1, 0, 0},                 // 21
    {"StartTimer(", 'g', 0, 2, 0, 0},             // 22
    {"StopTimer(", 'g', 0, 1, 0, 0},              // 23
    {"Type(", 'g', 2, 2, 0, 0},                   // 24
    {"Int(", 'g', 2, 2, 0, 0},                    // 25
    {"Float(", 'v', 2, 2, 0, 0},                  // 26
    {"Str(", 'v', 2, 4, 0, 0},                    // 27
    {"Strlen(", 'g', 2, 2, 0, 0},                 // 28
    {"Substr(", 'v', 2, 4, 0, 0},                 // 29
    {"Datetime(", 'g', 2, 5, 0, 0},               // 30
    {"GetTick(", 'g', 2, 1, 0, 0},                // 31
    {"AfterDaysDate(", 'g', 2, 3, 0, 0},          // 32
    {"Trim(", 'g', 2, 1, 0, 0},                   // 33
    {"Asc(", 'g', 2, 3, 0, 0},                    // 34
    {"Chr(", 'v', 2, 2, 0, 0},                    // 35
    {"Replstr(", 'g', 2, 4, 0, 0},                // 36
    {"Repeatstr(", 'g', 2, 3, 0, 0},              // 37
    {"Strstr(", 'g', 2, 3, 0, 0},                 // 38
    {"StrstrEx(", 'g', 2, 4, 0, 0},               // 39
    {"Strcmp(", 'g', 2, 4, 0, 0},                 // 40
    {"Len(", 'g', 2, 2, 0, 0},                    // 41
    {"GetMapItem(", 'g', 2, 4, 0, 0},             // 42
    {"Rand(", 'g', 2, 1, 0, 0},                   // 43
    {"AnlyStr(", 'g', 2, 3, 0, 0},                // 44
    {"Eval(", 'R', 2, 1, 0, 0},                   // 45
    {"StrToUnicode(", 'g', 2, 3, 0, 0},           // 46
    {"UnicodeToStr(", 'g', 2, 3, 0, 0},           // 47
    {"Hex(", 'g', 2, 3, 0, 0},                    // 48
    {"Upper(", 'g', 2, 1, 0, 0},                  // 49
    {"Lower(", 'g', 2, 1, 0, 0},                  // 50
    {"Time(", 'g', 2, 0, 0, 0},                   // 51
    {"GetDateStr(", 'g', 2, 4, 0, 0},             // 52
    {"MakeTime(", 'g', 2, 6, 0, 0},               // 53
    {"Ereg(", 'g', 2, 4, 0, 0},                   // 54
    {"EregRepl(", 'g', 2, 4, 0, 0},               // 55
    {"EregSplit(", 'g', 2, 3, 0, 0},              // 56
    {"DbOpen(", 'g', 3, 6, 0, 0},                 // 57
    {"DbExec(", 'g', 3, 2, 0, 0},                 // 58
    {"DbRows(", 'g', 3, 2, 0, 0},                 // 59
    {"DbGetField(", 'g', 3, 4, 0, 0},             // 60
    {"DbSetField(", 'g', 3, 4, 0, 0},             // 61
    {"DbClose(", 'g', 3, 1, 0, 0},                // 62
    {"DbCloseAll(", 'g', 3, 0, 0, 0},             // 63
    {"DbSetDebug(", 'g', 3, 2, 0, 0},             // 64
    {"DbExecMap(", 'g', 3, 5, 0, 0},              // 65
    {"SelectLan(", 'g', 1, 1, 0, 0},              // 66
    {"SetSndDir(", 'g', 1, 3, 0, 0},              // 67
    {"SetBreak(", 'g', 1, 1, 0, 0},               // 68
    {"SetEndKey(", 'g', 1, 1, 0, 0},              // 69
    {"SetKeyTime(", 'g', 1, 1, 0, 0},             // 70
    {"SetTimeoutVoc(", 'g', 1, 1, 0, 0},          // 71
    {"SetNobkringAns(", 'g', 1, 1, 0, 0},         // 72
    {"SetVolume(", 'g', 1, 2, 0, 0},              // 73
    {"SetBusyPara(", 'g', 1, 3, 0, 0},            // 74
    {"SetRingbackPara(", 'g', 1, 3, 0, 0},        // 75
    {"SetSignalFreqPara(", 'g', 1, 3, 0, 0},      // 76
    {"SetSndExt(", 'g', 1, 1, 0, 0},              // 77
    {"SetPlayToFile(", 'g', 1, 1, 0, 0},          // 78
    {"SetDispKeys(", 'g', 1, 1, 0, 0},            // 79
    {"SetCallerId(", 'g', 1, 1, 0, 0},            // 80
    {"SetFirstCalleeId(", 'g', 1, 2, 0, 0},       // 81
    {"SetSubAddr(", 'g', 1, 2, 0, 0},             // 82
    {"SetCharge(", 'g', 1, 1, 0, 0},              // 83
    {"GetCurSndDir(", 'g', 1, 2, 0, 0},           // 84
    {"SetHangupCause(", 'g', 1, 1, 0, 0},         // 85
    {"SetCallType(", 'g', 1, 1, 0, 0},            // 86
    {"SetRecPos(", 'g', 1, 1, 0, 0},              // 87
    {"LoadVocFile(", 'g', 4, 2, 0, 0},            // 88
    {"UnloadVocFile(", 'g', 4, 2, 0, 0},          // 89
    {"Play(", 'g', 4, 1, 0, 0},                   // 90
    {"Record(", 'g', 4, 2, 0, 0},                 // 91
    {"WaitRing(", 'g', 4, 1, 0, 0},               // 92
    {"IsRings(", 'g', 4, 1, 0, 0},                // 93
    {"IsRinging(", 'g', 4, 2, 0, 0},              // 94
    {"Answer(", 'g', 4, 1, 0, 0},                 // 95
    {"GetKeys(", 'g', 4, 3, 0, 0},                // 96
    {"SetKeys(", 'g', 4, 1, 0, 0},                // 97
    {"SetStarToPoint(", 'g', 4, 1, 0, 0},         // 98
    {"OutCall(", 'g', 4, 1, 0, 0},                // 99
    {"CheckDial(", 'g', 4, 0, 0, 0},              // 100
    {"Dial(", 'g', 4, 1, 0, 0},                   // 101
    {"SetTones(", 'g', 4, 10, 0, 0},              // 102
    {"ClearTones(", 'g', 4, 0, 0, 0},             // 103
    {"SetDialOn(", 'g', 4, 2, 0, 0},              // 104
    {"SetDialFailedTo(", 'g', 4, 1, 0, 0},        // 105
    {"Hangup(", 'g', 4, 0, 0, 0},                 // 106
    {"SipGetDestAddr(", 'g', 4, 2, 0, 0},         // 107
    {"SipGetAccAddr(", 'g', 4, 4, 0, 0},          // 108
    {"SipGetPeerMsg(", 'g', 4, 2, 0, 0},          // 109
    {"SipSetDialRoute(", 'g', 4, 2, 0, 0},        // 110
    {"SipSetRtpAddr(", 'g', 4, 3, 0, 0},          // 111
    {"SipGetRtpCount(", 'g', 4, 2, 0, 0},         // 112
    {"SetOnSipGetAccPwd(", 'g', 4, 1, 0, 0},      // 113
    {"SetOnSipGetAccPwdIp(", 'g', 4, 1, 0, 0},    // 114
    {"SetOnSipRegisterNotify(", 'g', 4, 1, 0, 0}, // 115
    {"ImSend(", 'g', 4, 3, 0, 0},                 // 116
    {"ImTest(", 'g', 4, 0, 0, 0},                 // 117
    {"ImRead(", 'g', 4, 4, 0, 0},                 // 118
    {"ImRecv(", 'g', 4, 2, 0, 0},                 // 119
    {"ImMsgGetField(", 'v', 4, 3, 0, 0},          // 120
    {"ImMakeAns(", 'g', 4, 6, 0, 0},              // 121
    {"ImMsgFree(", 'g', 4, 1, 0, 0},              // 122
    {"ImMakeReq(", 'g', 4, 9, 0, 0},              // 123
    {"ImFileSend(", 'g', 4, 6, 0, 0},             // 124
    {"ImFileRecv(", 'g', 4, 9, 0, 0},             // 125
    {"ImFileCheck(", 'g', 4, 3, 0, 0},            // 126
    {"ImFileEnd(", 'g', 4, 1, 0, 0},              // 127
    {"ImFileProcAnswer(", 'g', 4, 1, 0, 0},       // 128
    {"JoinConf(", 'g', 4, 2, 0, 0},               // 129
    {"ExitConf(", 'g', 4, 0, 0, 0},               // 130
    {"GetConfNum(", 'g', 4, 2, 0, 0},             // 131
    {"IsInConf(", 'g', 4, 3, 0, 0},               // 132
    {"RecConf(", 'g', 4, 2, 0, 0},                // 133
    {"RecConfCh(", 'g', 4, 3, 0, 0},              // 134
    {"PlayConf(", 'g', 4, 3, 0, 0},               // 135
    {"SipProxyRecv(", 'g', 4, 4, 0, 0},           // 136
    {"SipProxyGetField(", 'v', 8, 3, 0, 0},       // 137
    {"SipProxyAddField(", 'g', 4, 4, 0, 0},       // 138
    {"SipProxyRemoveField(", 'g', 4, 2, 0, 0},    // 139
    {"SipProxySend(", 'g', 4, 2, 0, 0},           // 140
    {"SipProxySendEx(", 'g', 4, 3, 0, 0},         // 141
    {"SipProxyDirAns(", 'g', 4, 3, 0, 0},         // 142
    {"SipProxySendKeepAlives(", 'g', 4, 2, 0, 0}, // 143
    {"SipUnregisterSpecUser(", 'g', 4, 1, 0, 0},  // 144
    {"PlayNumber(", 'g', 4, 2, 0, 0},             // 145
    {"TrimVocFile(", 'g', 4, 1, 0, 0},            // 146
    {"MixVocFile(", 'g', 4, 6, 0, 0},             // 147
    {"Sleep(", 'g', 4, 1, 0, 0},                  // 148
    {"SetFaxLocalId(", 'g', 4, 1, 0, 0},          // 149
    {"GetFaxResource(", 'g', 4, 2, 0, 0},         // 150
    {"SendFax(", 'g', 4, 1, 0, 0},                // 151
    {"RecvFax(", 'g', 4, 1, 0, 0},                // 152
    {"Txt2FaxFile(", 'g', 4, 3, 0, 0},            // 153
    {"StartLoopPlay(", 'g', 4, 1, 0, 0},          // 154
    {"ReLoopPlay(", 'g', 4, 0, 0, 0},             // 155
    {"Stop(", 'g', 4, 0, 0, 0},                   // 156
    {"PcPlay(", 'g', 4, 2, 0, 0},                 // 157
    {"ClearKeys(", 'g', 4, 0, 0, 0},              // 158
    {"KeysLen(", 'g', 4, 1, 0, 0},                // 159
    {"IsPcPlayEnd(", 'g', 4, 1, 0, 0},            // 160
    {"SetTtsPara(", 'g', 4, 3, 0, 0},             // 161
    {"TxtSpeak(", 'g', 4, 3, 0, 0},               // 162
    {"PcTxtSpeak(", 'g', 4, 3, 0, 0},             // 163
    {"TxtSpeakToFile(", 'g', 4, 4, 0, 0},         // 164
    {"EnableLineSpeaker(", 'g', 4, 1, 0, 0},      // 165
    {"OpenLine(", 'g', 4, 0, 0, 0},               // 166
    {"CloseLine(", 'g', 4, 0, 0, 0},              // 167
    {"StartRecord(", 'g', 4, 2, 0, 0},            // 168
    {"GetCallerId(", 'g', 4, 1, 0, 0},            // 169
    {"GetCalleeId(", 'g', 4, 1, 0, 0},            // 170
    {"GetFirstCalleeId(", 'g', 4, 1, 0, 0},       // 171
    {"LinkTo(", 'g', 4, 2, 0, 0},                 // 172
    {"ListenTo(", 'g', 4, 2, 0, 0},               // 173
    {"UnlinkTo(", 'g', 4, 2, 0, 0},               // 174
    {"UnlinkAll(", 'g', 4, 0, 0, 0},              // 175
    {"GetLinkList(", 'g', 4, 3, 0, 0},            // 176
    {"MakeRing(", 'g', 4, 1, 0, 0},               // 177
    {"GetHookState(", 'g', 4, 0, 0, 0},           // 178
    {"TransferTo(", 'g', 4, 1, 0, 0},             // 179
    {"TcpOpen(", 'g', 5, 4, 0, 0},                // 180
    {"TcpClose(", 'g', 5, 1, 0, 0},               // 181
    {"TcpCloseAll(", 'g', 5, 0, 0, 0},            // 182
    {"TcpWrite(", 'g', 5, 4, 0, 0},               // 183
    {"TcpTest(", 'g', 5, 2, 0, 0},                // 184
    {"TcpRead(", 'g', 5, 3, 0, 0},                // 185
    {"Http(", 'g', 5, 6, 0, 0},                   // 186
    {"HttpServerOpen(", 'g', 5, 1, 0, 0},         // 187
    {"HttpServerRecv(", 'g', 5, 4, 0, 0},         // 188
    {"HttpServerSend(", 'g', 5, 3, 0, 0},         // 189
    {"HttpServerClose(", 'g', 5, 1, 0, 0},        // 190
    {"TcpServer(", 'g', 5, 3, 0, 0},              // 191
    {"TcpAccept(", 'g', 5, 3, 0, 0},              // 192
    {"IntToNetstr(", 'g', 5, 3, 0, 0},            // 193
    {"NetstrToInt(", 'g', 5, 4, 0, 0},            // 194
    {"UdpOpen(", 'g', 5, 1, 0, 0},                // 195
    {"UdpClose(", 'g', 5, 1, 0, 0},               // 196
    {"UdpSend(", 'g', 5, 4, 0, 0},                // 197
    {"UdpRecv(", 'g', 5, 4, 0, 0},                // 198
    {"UdpTest(", 'g', 5, 1, 0, 0},                // 199
    {"PcGetKeys(", 'g', 6, 3, 0, 0},              // 200
    {"PcPlayNumber(", 'g', 6, 2, 0, 0},           // 201
    {"DispInfo(", 'g', 6, 2, 0, 0},               // 202
    {"SetDispColor(", 'g', 6, 2, 0, 0},           // 203
    {"PcSetKeys(", 'g', 6, 2, 0, 0},              // 204
    {"TextFileAppend(", 'g', 7, 3, 0, 0},         // 205
    {"TextFileClose(", 'g', 7, 1, 0, 0},          // 206
    {"FileMove(", 'g', 7, 2, 0, 0},               // 207
    {"FileCopy(", 'g', 7, 2, 0, 0},               // 208
    {"FileLenTime(", 'g', 7, 3, 0, 0},            // 209
    {"IsDirExist(", 'g', 7, 2, 0, 0},             // 210
    {"MakeDir(", 'g', 7, 1, 0, 0},                // 211
    {"RemoveDir(", 'g', 7, 1, 0, 0},              // 212
    {"GetCurWorkDir(", 'g', 7, 1, 0, 0},          // 213
    {"SetCurWorkDir(", 'g', 7, 1, 0, 0},          // 214
    {"Exec(", 'g', 7, 3, 0, 0},                   // 215
    {"DllLoad(", 'g', 7, 2, 0, 0},                // 216
    {"DllFunction(", 'g', 7, 3, 0, 0},            // 217
    {"DllFree(", 'g', 7, 1, 0, 0},                // 218
    {"DllFreeAll(", 'g', 7, 0, 0, 0},             // 219
    {"RunKvs(", 'g', 7, 1, 0, 0},                 // 220
    {"SetRunKvsEnvt(", 'g', 7, 1, 0, 0},          // 221
    {"RunLine(", 'g', 7, 1, 0, 0},                // 222
    {"FileOpen(", 'g', 7, 3, 0, 0},               // 223
    {"FileClose(", 'g', 7, 1, 0, 0},              // 224
    {"FileCloseAll(", 'g', 7, 0, 0, 0},           // 225
    {"FileRead(", 'g', 7, 3, 0, 0},               // 226
    {"FileReadLine(", 'g', 7, 2, 0, 0},           // 227
    {"FileReadLines(", 'g', 7, 2, 0, 0},          // 228
    {"FileMapLines(", 'g', 7, 2, 0, 0},           // 229
    {"FileSeek(", 'g', 7, 2, 0, 0},               // 230
    {"FileWrite(", 'g', 7, 2, 0, 0},              // 231
    {"GetDiskSpace(", 'g', 7, 3, 0, 0},           // 232
    {"GetMemInfo(", 'g', 7, 4, 0, 0},             // 233
    {"GetFileList(", 'g', 7, 4, 0, 0},            // 234
    {"SendMsg(", 'g', 8, 4, 0, 0},                // 235
    {"RecvMsg(", 'g', 8, 7, 0, 0},                // 236
    {"RecvMsgForType(", 'g', 8, 7, 0, 0},         // 237
    {"RecvMsgForField(", 'g', 8, 9, 0, 0},        // 238
    {"RecvMsgFor2Field(", 'g', 8, 12, 0, 0},      // 239
    {"ClearMsg(", 'g', 8, 2, 0, 0},               // 240
    {"ClearMsgFrom(", 'g', 8, 3, 0, 0},           // 241
    {"ClearMsgForType(", 'g', 8, 3, 0, 0},        // 242
    {"ClearMsgForField(", 'g', 8, 4, 0, 0},       // 243
    {"GetMsgNum(", 'g', 8, 3, 0, 0},              // 244
    {"GetMsgNumForType(", 'g', 8, 4, 0, 0},       // 245
    {"GetMsgNumForField(", 'g', 8, 5, 0, 0},      // 246
    {"SetMsgField(", 'g', 8, 2, 0, 0},            // 247
    {"GetMsgField(", 'g', 8, 2, 0, 0},            // 248
    {"GetMsgFieldVal(", 'v', 8, 1, 0, 0},         // 249
    {"CountMsg(", 'g', 8, 4, 0, 0},               // 250
    {"ReadMsg(", 'g', 8, 6, 0, 0},                // 251
    {"ReadMsgFor(", 'g', 8, 6, 0, 0},             // 252
    {"WriteMsg(", 'g', 8, 6, 0, 0},               // 253
    {"SetMsgOrderBy(", 'g', 8, 4, 0, 0},          // 254
    {"AcdListSend(", 'g', 8, 2, 0, 0},            // 255
    {"AcdListRead(", 'g', 8, 0, 0, 0},            // 256
    {"AcdListWrite(", 'g', 8, 4, 0, 0},           // 257
    {"AcdListRecv(", 'g', 8, 2, 0, 0},            // 258
    {"AcdListClear(", 'g', 8, 2, 0, 0},           // 259
    {"AcdListNum(", 'g', 8, 1, 0, 0},             // 260
    {"GetShareMem(", 'g', 9, 3, 0, 0},            // 261
    {"SetShareMem(", 'g', 9, 3, 0, 0},            // 262
    {"ClearShareMem(", 'g', 9, 1, 0, 0},          // 263
    {"IncShareMem(", 'g', 9, 4, 0, 0},            // 264
    {"DecShareMem(", 'g', 9, 4, 0, 0},            // 265
    {"FindShareMem(", 'g', 9, 3, 0, 0},           // 266
    {"AccShareMem(", 'g', 9, 4, 0, 0},            // 267
    {"InterLineCall(", 'g', 9, 4, 0, 0},          // 268
    {"InterLineServer(", 'g', 9, 1, 0, 0},        // 269
    {"GetSysInfo(", 'g', 7, 1, 0, 0},             // 270
    {"GetSysInfoVal(", 'g', 7, 2, 0, 0},          // 271
    {"Print(", 'g', 7, 1, 0, 0},                  // 272
    {"SetPrintTo(", 'g', 7, 1, 0, 0},             // 273
    {"PspToKvs(", 'g', 7, 3, 0, 0},               // 274
    {"SetMaxTalkTime(", 'g', 7, 1, 0, 0},         // 275
    {"GetSigRawData(", 'g', 4, 1, 0, 0},          // 276
    {"SetSigRawData(", 'g', 4, 2, 0, 0},          // 277
    {"SetSigPara(", 'g', 4, 2, 0, 0},             // 278
    {"SipGetAccStat(", 'g', 4, 1, 0, 0},          // 279
    {"SendFskMsg(", 'g', 4, 3, 0, 0},             // 280
    {"RecvFskMsg(", 'g', 4, 3, 0, 0},             // 281
    {"", 0, 0, 0, 0, 0},
};

bool IsAlpha(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool IsDigit(unsigned char c) {
    return c >= '0' && c <= '9';
}

} // namespace

TagKeyword g_keyword;

namespace {

int32_t FillTable() {
    int32_t n = 0;
    for (RecKeyword* r = g_table; r->name[0]; ++r, ++n) {
        r->nameLen = static_cast<int32_t>(std::strlen(r->name));
        r->ordinal = static_cast<uint16_t>(n);
    }
    return n;
}

// Filled once, also when another module's static initialiser asks before g_keyword is constructed.
int32_t TableCount() {
    static const int32_t n = FillTable();
    return n;
}

} // namespace

TagKeyword::TagKeyword() : count_(TableCount()) {}

int32_t TagKeyword::Count() const {
    return TableCount();
}

const RecKeyword* TagKeyword::At(int32_t ordinal) const {
    return ordinal >= 0 && ordinal < TableCount() ? &g_table[ordinal] : nullptr;
}

const RecKeyword* TagKeyword::Find(const char* name) const {
    if (!name) return nullptr;
    int32_t len = static_cast<int32_t>(std::strlen(name));
    for (int32_t i = kFirstBuiltin, n = TableCount(); i < n; ++i)
        if (g_table[i].nameLen == len && std::memcmp(g_table[i].name, name, static_cast<size_t>(len)) == 0)
            return &g_table[i];
    return nullptr;
}

const RecKeyword* TagKeyword::Match(const char* line, int32_t* count) const {
    TableCount();
    if (count) *count = 0;
    if (!line) return nullptr;
    const auto* p = reinterpret_cast<const unsigned char*>(line);
    std::vector<std::string> words;
    std::string cur;
    int32_t i = 0;
    for (;; ++i) {
        unsigned char c = p[i];
        if (c == '<' || c == '"') break;
        if (c == ' ' || c == '\t' || c == 0 || c == '\r' || c == '\n') {
            if (!cur.empty()) {
                if (words.empty() && (cur == "const" || cur == "function")) {
                    if (count) *count = i;
                    return &g_table[cur == "const" ? kConst : kFunction];
                }
                words.push_back(cur);
                cur.clear();
            }
            if (c == ' ' || c == '\t') continue;
            break;
        }
        if (c == '(' || c == ';') {
            cur += static_cast<char>(c);
            words.push_back(cur);
            cur.clear();
            ++i;
            break;
        }
        if (c == '{' || c == '}') {
            if (count) *count = i + 1;
            return &g_table[c == '{' ? kOpenBrace : kCloseBrace];
        }
        bool ok = cur.empty() ? (c == '_' || c == '#' || IsAlpha(c)) : (c == '_' || IsAlpha(c) || IsDigit(c));
        if (!ok) return nullptr;
        cur += static_cast<char>(c);
    }
    if (!cur.empty()) words.push_back(cur);
    std::string head;
    if (words.size() > 1 && words[0] == "else") {
        head = "else " + words[1];
        if (words.size() == 3 && words[2] == "(") head += "(";
    } else if (words.size() == 2 && (words[1] == "(" || words[1] == ";")) {
        head = words[0] + words[1];
    } else if (!words.empty()) {
        head = words[0];
    }
    if (head.empty()) return nullptr;
    if (count) *count = i;
    for (int32_t k = 0, n = TableCount(); k < n; ++k)
        if (g_table[k].nameLen == static_cast<int32_t>(head.size()) && head == g_table[k].name) return &g_table[k];
    return nullptr;
}

const char* SkipLeadFiller(const char* s) {
    while (s && (*s == ' ' || *s == '=' || *s == '\t'))
        ++s;
    return s;
}

void TrimRight(char* s) {
    if (!s) return;
    size_t n = std::strlen(s);
    while (n > 0 && (s[n - 1] == ' ' || s[n - 1] == '\t' || s[n - 1] == '\n'))
        s[--n] = 0;
}

void StripLineBlanks(char* s) {
    if (!s) return;
    char* w = s;
    for (const char* r = s; *r && *r != '\n'; ++r)
        if (*r != ' ' && *r != '\t') *w++ = *r;
    *w = 0;
}

bool IsRestEmpty(const char* s) {
    if (!s) return true;
    while (*s == ' ' || *s == '\t')
        ++s;
    return *s == 0 || *s == '\r' || *s == '\n' || *s == '/';
}

} // namespace zz
