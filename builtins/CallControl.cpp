// Call-control and voice builtins: answering, dialling, playing, recording, linking calls.
#include "builtins/Families.h"

namespace zz {

ZZ_BUILTIN_L(TagLoadVocFile, 2);
ZZ_BUILTIN_L(TagUnloadVocFile, 2);
ZZ_BUILTIN_L(TagPlay, 1);
ZZ_BUILTIN_L(TagRecord, 2);
ZZ_BUILTIN_L(TagWaitRing, 1);
ZZ_BUILTIN_L(TagIsRings, 1);
ZZ_BUILTIN_L(TagIsRinging, 2);
ZZ_BUILTIN_L(TagAnswer, 1);
ZZ_BUILTIN_L(TagSetKeys, 1);
ZZ_BUILTIN_L(TagSetStarToPoint, 1);
ZZ_BUILTIN_L(TagOutCall, 1);
ZZ_BUILTIN_L(TagCheckDial, 0);
ZZ_BUILTIN_L(TagDial, 1);
ZZ_BUILTIN_L(TagSetTones, 10);
ZZ_BUILTIN_L(TagClearTones, 0);
ZZ_BUILTIN_L(TagSetDialOn, 2);
ZZ_BUILTIN_L(TagSetDialFailedTo, 1);
ZZ_BUILTIN_L(TagHangup, 0);
ZZ_BUILTIN_L(TagTrimVocFile, 1);
ZZ_BUILTIN_L(TagMixVocFile, 6);
ZZ_BUILTIN_L(TagSleep, 1);
ZZ_BUILTIN_L(TagStartLoopPlay, 1);
ZZ_BUILTIN_L(TagReLoopPlay, 0);
ZZ_BUILTIN_L(TagStopPlay, 0);
ZZ_BUILTIN_L(TagEnableLineSpeaker, 1);
ZZ_BUILTIN_L(TagOpenLine, 0);
ZZ_BUILTIN_L(TagCloseLine, 0);
ZZ_BUILTIN_L(TagStartRecord, 2);
ZZ_BUILTIN_L(TagGetCallerId, 1);
ZZ_BUILTIN_L(TagGetCalleeId, 1);
ZZ_BUILTIN_L(TagGetFirstCalleeId, 1);
ZZ_BUILTIN_L(TagMakeRing, 1);
ZZ_BUILTIN_L(TagGetHookState, 0);
ZZ_BUILTIN_L(TagTransferTo, 1);

std::span<const BuiltinEntry> CallControlBuiltins() {
    static const BuiltinEntry rows[] = {
        ZZ_ROW_L(88, TagLoadVocFile, 2),        // LoadVocFile
        ZZ_ROW_L(89, TagUnloadVocFile, 2),      // UnloadVocFile
        ZZ_ROW_L(90, TagPlay, 1),               // Play
        ZZ_ROW_L(91, TagRecord, 2),             // Record
        ZZ_ROW_L(92, TagWaitRing, 1),           // WaitRing
        ZZ_ROW_L(93, TagIsRings, 1),            // IsRings
        ZZ_ROW_L(94, TagIsRinging, 2),          // IsRinging
        ZZ_ROW_L(95, TagAnswer, 1),             // Answer
        ZZ_ROW_L(97, TagSetKeys, 1),            // SetKeys
        ZZ_ROW_L(98, TagSetStarToPoint, 1),     // SetStarToPoint
        ZZ_ROW_L(99, TagOutCall, 1),            // OutCall
        ZZ_ROW_L(100, TagCheckDial, 0),         // CheckDial
        ZZ_ROW_L(101, TagDial, 1),              // Dial
        ZZ_ROW_L(102, TagSetTones, 10),         // SetTones
        ZZ_ROW_L(103, TagClearTones, 0),        // ClearTones
        ZZ_ROW_L(104, TagSetDialOn, 2),         // SetDialOn
        ZZ_ROW_L(105, TagSetDialFailedTo, 1),   // SetDialFailedTo
        ZZ_ROW_L(106, TagHangup, 0),            // Hangup
        ZZ_ROW_L(146, TagTrimVocFile, 1),       // TrimVocFile
        ZZ_ROW_L(147, TagMixVocFile, 6),        // MixVocFile
        ZZ_ROW_L(148, TagSleep, 1),             // Sleep
        ZZ_ROW_L(154, TagStartLoopPlay, 1),     // StartLoopPlay
        ZZ_ROW_L(155, TagReLoopPlay, 0),        // ReLoopPlay
        ZZ_ROW_L(156, TagStopPlay, 0),          // Stop
        ZZ_ROW_L(165, TagEnableLineSpeaker, 1), // EnableLineSpeaker
        ZZ_ROW_L(166, TagOpenLine, 0),          // OpenLine
        ZZ_ROW_L(167, TagCloseLine, 0),         // CloseLine
        ZZ_ROW_L(168, TagStartRecord, 2),       // StartRecord
        ZZ_ROW_L(169, TagGetCallerId, 1),       // GetCallerId
        ZZ_ROW_L(170, TagGetCalleeId, 1),       // GetCalleeId
        ZZ_ROW_L(171, TagGetFirstCalleeId, 1),  // GetFirstCalleeId
        ZZ_ROW_L(177, TagMakeRing, 1),          // MakeRing
        ZZ_ROW_L(178, TagGetHookState, 0),      // GetHookState
        ZZ_ROW_L(179, TagTransferTo, 1),        // TransferTo
    };
    return rows;
}

} // namespace zz
