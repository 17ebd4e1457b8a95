// Line settings and line state builtins.
#include "builtins/Families.h"

namespace zz {

ZZ_BUILTIN_L(TagSelectLan, 1);
ZZ_BUILTIN_L(TagSetSndDir, 3);
ZZ_BUILTIN_L(TagSetBreak, 1);
ZZ_BUILTIN_L(TagSetEndKey, 1);
ZZ_BUILTIN_L(TagSetKeyTime, 1);
ZZ_BUILTIN_L(TagSetTimeoutVoc, 1);
ZZ_BUILTIN_L(TagSetNobkringAns, 1);
ZZ_BUILTIN_L(TagSetVolume, 2);
ZZ_BUILTIN_L(TagSetBusyPara, 3);
ZZ_BUILTIN_L(TagSetRingbackPara, 3);
ZZ_BUILTIN_L(TagSetSignalFreqPara, 3);
ZZ_BUILTIN_L(TagSetSndExt, 1);
ZZ_BUILTIN_L(TagSetPlayToFile, 1);
ZZ_BUILTIN_L(TagSetDispKeys, 1);
ZZ_BUILTIN_L(TagSetCallerId, 1);
ZZ_BUILTIN_L(TagSetFirstCalleeId, 2);
ZZ_BUILTIN_L(TagSetSubAddr, 2);
ZZ_BUILTIN_L(TagSetCharge, 1);
ZZ_BUILTIN_L(TagGetCurSndDir, 2);
ZZ_BUILTIN_L(TagSetMaxTalkTime, 1);
ZZ_BUILTIN_L(TagGetSigRawData, 1);
ZZ_BUILTIN_L(TagSetSigRawData, 2);

std::span<const BuiltinEntry> LineSettingsBuiltins() {
    static const BuiltinEntry rows[] = {
        ZZ_ROW_L(66, TagSelectLan, 1),         // SelectLan
        ZZ_ROW_L(67, TagSetSndDir, 3),         // SetSndDir
        ZZ_ROW_L(68, TagSetBreak, 1),          // SetBreak
        ZZ_ROW_L(69, TagSetEndKey, 1),         // SetEndKey
        ZZ_ROW_L(70, TagSetKeyTime, 1),        // SetKeyTime
        ZZ_ROW_L(71, TagSetTimeoutVoc, 1),     // SetTimeoutVoc
        ZZ_ROW_L(72, TagSetNobkringAns, 1),    // SetNobkringAns
        ZZ_ROW_L(73, TagSetVolume, 2),         // SetVolume
        ZZ_ROW_L(74, TagSetBusyPara, 3),       // SetBusyPara
        ZZ_ROW_L(75, TagSetRingbackPara, 3),   // SetRingbackPara
        ZZ_ROW_L(76, TagSetSignalFreqPara, 3), // SetSignalFreqPara
        ZZ_ROW_L(77, TagSetSndExt, 1),         // SetSndExt
        ZZ_ROW_L(78, TagSetPlayToFile, 1),     // SetPlayToFile
        ZZ_ROW_L(79, TagSetDispKeys, 1),       // SetDispKeys
        ZZ_ROW_L(80, TagSetCallerId, 1),       // SetCallerId
        ZZ_ROW_L(81, TagSetFirstCalleeId, 2),  // SetFirstCalleeId
        ZZ_ROW_L(82, TagSetSubAddr, 2),        // SetSubAddr
        ZZ_ROW_L(83, TagSetCharge, 1),         // SetCharge
        ZZ_ROW_L(84, TagGetCurSndDir, 2),      // GetCurSndDir
        ZZ_ROW_L(275, TagSetMaxTalkTime, 1),   // SetMaxTalkTime
        ZZ_ROW_L(276, TagGetSigRawData, 1),    // GetSigRawData
        ZZ_ROW_L(277, TagSetSigRawData, 2),    // SetSigRawData
    };
    return rows;
}

} // namespace zz
