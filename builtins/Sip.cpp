// SIP information, callback and proxy builtins.
#include "builtins/Families.h"

namespace zz {

ZZ_BUILTIN_L(TagSipGetDestAddr, 2);
ZZ_BUILTIN_L(TagSipGetAccAddr, 4);
ZZ_BUILTIN_L(TagSipGetPeerMsg, 2);
ZZ_BUILTIN_L(TagSipSetDialRoute, 2);
ZZ_BUILTIN_L(TagSipSetRtpAddr, 3);
ZZ_BUILTIN_L(TagSipGetRtpCount, 2);
ZZ_BUILTIN_L(TagSipOnGetAccPwd, 1);
ZZ_BUILTIN_L(TagSipOnGetAccPwdIp, 1);
ZZ_BUILTIN_L(TagSipOnRegisterNotify, 1);
ZZ_BUILTIN_L(TagSipProxyRecv, 4);
ZZ_BUILTIN_L(TagSipProxyGetField, 3);
ZZ_BUILTIN_L(TagSipProxyAddField, 4);
ZZ_BUILTIN_L(TagSipProxyRemoveField, 2);
ZZ_BUILTIN_L(TagSipProxySend, 2);
ZZ_BUILTIN_L(TagSipProxySendEx, 3);
ZZ_BUILTIN_L(TagSipProxyDirAns, 3);
ZZ_BUILTIN_L(TagSipProxySendKeepAlives, 2);
ZZ_BUILTIN_L(TagSipUnregisterSpecUser, 1);
ZZ_BUILTIN_L(TagSipGetAccStat, 1);

std::span<const BuiltinEntry> SipBuiltins() {
    static const BuiltinEntry rows[] = {
        ZZ_ROW_L(107, TagSipGetDestAddr, 2),         // SipGetDestAddr
        ZZ_ROW_L(108, TagSipGetAccAddr, 4),          // SipGetAccAddr
        ZZ_ROW_L(109, TagSipGetPeerMsg, 2),          // SipGetPeerMsg
        ZZ_ROW_L(110, TagSipSetDialRoute, 2),        // SipSetDialRoute
        ZZ_ROW_L(111, TagSipSetRtpAddr, 3),          // SipSetRtpAddr
        ZZ_ROW_L(112, TagSipGetRtpCount, 2),         // SipGetRtpCount
        ZZ_ROW_L(113, TagSipOnGetAccPwd, 1),         // SetOnSipGetAccPwd
        ZZ_ROW_L(114, TagSipOnGetAccPwdIp, 1),       // SetOnSipGetAccPwdIp
        ZZ_ROW_L(115, TagSipOnRegisterNotify, 1),    // SetOnSipRegisterNotify
        ZZ_ROW_L(136, TagSipProxyRecv, 4),           // SipProxyRecv
        ZZ_ROW_L(137, TagSipProxyGetField, 3),       // SipProxyGetField
        ZZ_ROW_L(138, TagSipProxyAddField, 4),       // SipProxyAddField
        ZZ_ROW_L(139, TagSipProxyRemoveField, 2),    // SipProxyRemoveField
        ZZ_ROW_L(140, TagSipProxySend, 2),           // SipProxySend
        ZZ_ROW_L(141, TagSipProxySendEx, 3),         // SipProxySendEx
        ZZ_ROW_L(142, TagSipProxyDirAns, 3),         // SipProxyDirAns
        ZZ_ROW_L(143, TagSipProxySendKeepAlives, 2), // SipProxySendKeepAlives
        ZZ_ROW_L(144, TagSipUnregisterSpecUser, 1),  // SipUnregisterSpecUser
        ZZ_ROW_L(279, TagSipGetAccStat, 1),          // SipGetAccStat
    };
    return rows;
}

} // namespace zz
