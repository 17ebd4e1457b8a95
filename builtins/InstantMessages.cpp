// Instant-message and file-transfer builtins: each hands its operands to one operation of the line's call
// object and stores back what it gives, as the buffers of the original would hold it.
#include "builtins/Families.h"
#include "platform/Gbk.h"
#include "telephony/TagKvCall.h"

#include <cstring>

namespace zz {

namespace {
constexpr int32_t kDestMax = 100; // a destination is kept with its NUL in 100 bytes
constexpr int32_t kDestTooLong = -100;
constexpr size_t kFromRoom = 512, kToRoom = 512, kTypeRoom = 300, kBodyRoom = 3072;
constexpr size_t kRecvRoom = 300, kFieldRoom = 2048, kReqIdRoom = 512;
constexpr size_t kFileIdRoom = 1024, kFileUriRoom = 512, kFileOfferRoom = 1024;
constexpr size_t kAnswerRoom = 2048, kPathRoom = 1024, kNameRoom = 512;
} // namespace

ZZ_BUILTIN_L_RUN(TagImSend, 3);
int32_t TagImSend::Run() {
    TagKvCall* c = Call();
    if (!c) return kBuiltinBadArg;
    // The destination's text with its terminator must fit the library's 100 bytes (a number counts as its digits).
    if (std::strlen(Text(0)) + 1 > size_t(kDestMax)) return kDestTooLong;
    std::string_view body = Bytes(2);
    std::string text = Operand(2).type == TagVar::kString ? std::string(body) : std::string(Text(2));
    return c->ImSend(Text(0), Text(1), text.c_str(), int32_t(text.size()));
}

ZZ_BUILTIN_L_RUN(TagImTest, 0);
int32_t TagImTest::Run() {
    TagKvCall* c = Call();
    return c ? c->ImTest() : kBuiltinBadArg;
}

ZZ_BUILTIN_L_RUN(TagImRead, 4);
int32_t TagImRead::Run() {
    TagKvCall* c = Call();
    if (!c) return kBuiltinBadArg;
    std::string from, to, type, body;
    int r = c->ImRead(from, to, type, body);
    if (r > 0) {
        SetOutText(0, from, kFromRoom);
        SetOutText(1, to, kToRoom);
        SetOutText(2, type, kTypeRoom);
        SetOutText(3, body, kBodyRoom);
    }
    return r;
}

ZZ_BUILTIN_L_RUN(TagImRecv, 2);
int32_t TagImRecv::Run() {
    TagKvCall* c = Call();
    if (!c) return kBuiltinBadArg;
    std::string text;
    int32_t handle = 0;
    int r = c->ImRecv(text, handle);
    SetOutText(0, text, kRecvRoom);
    SetOutInt(1, handle);
    return r;
}

ZZ_BUILTIN_L_RUN(TagImMsgGetField, 3);
int32_t TagImMsgGetField::Run() {
    TagKvCall* c = Call();
    if (!c) return kBuiltinBadArg;
    std::string out;
    int r = c->ImMsgGetField(StoredInt(0), Text(1), Text(2), out);
    TagVar value;
    value.SetStrN(out.data(), int32_t(GbkSafeCut(out, kFieldRoom - 1)));
    StoreResult(value); // a value builtin: the field is the statement's value
    return r;
}

ZZ_BUILTIN_L_RUN(TagImMakeAns, 6);
int32_t TagImMakeAns::Run() {
    TagKvCall* c = Call();
    return c ? c->ImMakeAns(StoredInt(0), IntVal(1), Text(2), Text(3), Text(4), Text(5)) : kBuiltinBadArg;
}

ZZ_BUILTIN_L_RUN(TagImMsgFree, 1);
int32_t TagImMsgFree::Run() {
    TagKvCall* c = Call();
    return c ? c->ImMsgFree(StoredInt(0)) : kBuiltinBadArg;
}

ZZ_BUILTIN_L_RUN(TagImMakeReq, 9);
int32_t TagImMakeReq::Run() {
    TagKvCall* c = Call();
    if (!c) return kBuiltinBadArg;
    std::array<const char*, 8> texts;
    for (size_t i = 0; i < texts.size(); ++i)
        texts[i] = Text(int32_t(i));
    std::string given = Text(8);
    std::string id = given.substr(0, GbkSafeCut(given, kReqIdRoom - 1));
    int r = c->ImMakeReq(texts, id);
    // A script's own id stays; an empty one takes the id made for the request.
    if (given.empty()) SetOutText(8, id, kReqIdRoom);
    return r;
}

ZZ_BUILTIN_L_RUN(TagImFileSend, 6);
int32_t TagImFileSend::Run() {
    TagKvCall* c = Call();
    if (!c) return kBuiltinBadArg;
    std::string given = Text(1);
    std::string id = given.substr(0, GbkSafeCut(given, kFileIdRoom - 1)), uri, offer;
    int32_t handle = 0, size = 0;
    int r = c->ImFileSend(Text(0), id, handle, uri, size, offer);
    if (given.empty()) SetOutText(1, id, kFileIdRoom);
    SetOutInt(2, handle);
    SetOutText(3, uri, kFileUriRoom);
    SetOutInt(4, size);
    SetOutText(5, offer, kFileOfferRoom);
    return r;
}

ZZ_BUILTIN_L_RUN(TagImFileRecv, 9);
int32_t TagImFileRecv::Run() {
    TagKvCall* c = Call();
    if (!c) return kBuiltinBadArg;
    std::string answer, path, name, id;
    int32_t handle = 0, size = 0;
    int r = c->ImFileRecv(IntVal(0), Text(1), IntVal(2), handle, answer, path, name, size, id);
    SetOutInt(3, handle);
    SetOutText(4, answer, kAnswerRoom);
    SetOutText(5, path, kPathRoom);
    SetOutText(6, name, kNameRoom);
    SetOutInt(7, size);
    SetOutText(8, id, kFileIdRoom);
    return r;
}

ZZ_BUILTIN_L_RUN(TagImFileCheck, 3);
int32_t TagImFileCheck::Run() {
    TagKvCall* c = Call();
    if (!c) return kBuiltinBadArg;
    int32_t done = 0, total = 0;
    int r = c->ImFileCheck(StoredInt(0), done, total);
    SetOutInt(1, done);
    SetOutInt(2, total);
    return r;
}

ZZ_BUILTIN_L_RUN(TagImFileEnd, 1);
int32_t TagImFileEnd::Run() {
    TagKvCall* c = Call();
    return c ? c->ImFileEnd(StoredInt(0)) : kBuiltinBadArg;
}

ZZ_BUILTIN_L_RUN(TagImFileProcAnswer, 1);
int32_t TagImFileProcAnswer::Run() {
    TagKvCall* c = Call();
    return c ? c->ImFileProcAnswer(Text(0)) : kBuiltinBadArg;
}

std::span<const BuiltinEntry> InstantMessagesBuiltins() {
    static const BuiltinEntry rows[] = {
        ZZ_ROW_L(116, TagImSend, 3),           // ImSend
        ZZ_ROW_L(117, TagImTest, 0),           // ImTest
        ZZ_ROW_L(118, TagImRead, 4),           // ImRead
        ZZ_ROW_L(119, TagImRecv, 2),           // ImRecv
        ZZ_ROW_L(120, TagImMsgGetField, 3),    // ImMsgGetField
        ZZ_ROW_L(121, TagImMakeAns, 6),        // ImMakeAns
        ZZ_ROW_L(122, TagImMsgFree, 1),        // ImMsgFree
        ZZ_ROW_L(123, TagImMakeReq, 9),        // ImMakeReq
        ZZ_ROW_L(124, TagImFileSend, 6),       // ImFileSend
        ZZ_ROW_L(125, TagImFileRecv, 9),       // ImFileRecv
        ZZ_ROW_L(126, TagImFileCheck, 3),      // ImFileCheck
        ZZ_ROW_L(127, TagImFileEnd, 1),        // ImFileEnd
        ZZ_ROW_L(128, TagImFileProcAnswer, 1), // ImFileProcAnswer
    };
    return rows;
}

} // namespace zz
