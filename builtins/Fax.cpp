// Fax builtins: the line's fax operations (card lines send and receive through the card's fax channels; other
// lines answer with the call interface's defaults) and text-to-fax conversion.
#include "builtins/Families.h"
#include "media/TagTxtCvtFax.h"
#include "telephony/TagKvCall.h"

namespace zz {

ZZ_BUILTIN_L_RUN(TagSetFaxLocalId, 1);
ZZ_BUILTIN_L_RUN(TagGetFaxResource, 2);
ZZ_BUILTIN_L_RUN(TagSendFax, 1);
ZZ_BUILTIN_L_RUN(TagRecvFax, 1);

class TagTxt2FaxFile final : public BuiltinP<3> {
public:
    using Base = BuiltinP<3>;
    using Base::Base;
    int32_t Run() override;
};

int32_t TagSetFaxLocalId::Run() {
    if (TagKvCall* c = Call()) c->SetFaxLocalId(Text(0));
    return kBuiltinOk;
}

int32_t TagGetFaxResource::Run() {
    int32_t total = 0, busy = 0;
    if (TagKvCall* c = Call()) c->GetFaxResource(total, busy);
    SetOutInt(0, total);
    SetOutInt(1, busy);
    return kBuiltinOk;
}

int32_t TagSendFax::Run() {
    TagKvCall* c = Call();
    return c ? c->SendFax(Text(0)) : kBuiltinBadArg;
}

int32_t TagRecvFax::Run() {
    TagKvCall* c = Call();
    return c ? c->RecvFax(Text(0)) : kBuiltinBadArg;
}

int32_t TagTxt2FaxFile::Run() {
    TagTxtCvtFax converter(Text(2), Text(0), Text(1));
    return converter.Result();
}

std::span<const BuiltinEntry> FaxBuiltins() {
    static const BuiltinEntry rows[] = {
        ZZ_ROW_L(149, TagSetFaxLocalId, 1),  // SetFaxLocalId
        ZZ_ROW_L(150, TagGetFaxResource, 2), // GetFaxResource
        ZZ_ROW_L(151, TagSendFax, 1),        // SendFax
        ZZ_ROW_L(152, TagRecvFax, 1),        // RecvFax
        ZZ_ROW_P(153, TagTxt2FaxFile, 3),    // Txt2FaxFile
    };
    return rows;
}

} // namespace zz
