// Conference and link builtins.
#include "builtins/Families.h"

namespace zz {

ZZ_BUILTIN_L(TagJoinConf, 2);
ZZ_BUILTIN_L(TagExitConf, 0);
ZZ_BUILTIN_L(TagGetConfNum, 2);
ZZ_BUILTIN_L(TagIsInConf, 3);
ZZ_BUILTIN_L(TagRecConf, 2);
ZZ_BUILTIN_L(TagRecConfCh, 3);
ZZ_BUILTIN_L(TagPlayConf, 3);
ZZ_BUILTIN_L(TagLinkTo, 2);
ZZ_BUILTIN_L(TagListenTo, 2);
ZZ_BUILTIN_L(TagUnlinkTo, 2);
ZZ_BUILTIN_L(TagUnlinkAll, 0);
ZZ_BUILTIN_L(TagGetLinkList, 3);

std::span<const BuiltinEntry> ConferenceBuiltins() {
    static const BuiltinEntry rows[] = {
        ZZ_ROW_L(129, TagJoinConf, 2),    // JoinConf
        ZZ_ROW_L(130, TagExitConf, 0),    // ExitConf
        ZZ_ROW_L(131, TagGetConfNum, 2),  // GetConfNum
        ZZ_ROW_L(132, TagIsInConf, 3),    // IsInConf
        ZZ_ROW_L(133, TagRecConf, 2),     // RecConf
        ZZ_ROW_L(134, TagRecConfCh, 3),   // RecConfCh
        ZZ_ROW_L(135, TagPlayConf, 3),    // PlayConf
        ZZ_ROW_L(172, TagLinkTo, 2),      // LinkTo
        ZZ_ROW_L(173, TagListenTo, 2),    // ListenTo
        ZZ_ROW_L(174, TagUnlinkTo, 2),    // UnlinkTo
        ZZ_ROW_L(175, TagUnlinkAll, 0),   // UnlinkAll
        ZZ_ROW_L(176, TagGetLinkList, 3), // GetLinkList
    };
    return rows;
}

} // namespace zz
