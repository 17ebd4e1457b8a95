#include "engine/TagOper.h"

#include <cstring>

#include "engine/TagExpre.h"

namespace zz {

void ExpreDelete::operator()(TagExpre* e) const {
    delete e;
}

TagOper::~TagOper() = default;

TagOper::TagOper(const TagOper& o)
    : text(o.text), lineNo(o.lineNo), depth(o.depth), index(o.index), breakpoint(o.breakpoint), match(o.match),
      kind(o.kind), parent(o.parent), next(o.next), prev(o.prev), singleBody(o.singleBody), noOp(o.noOp),
      plainNext(o.plainNext), pure(o.pure), userCall(o.userCall), target(o.target) {}

TagOper& TagOper::operator=(const TagOper& o) {
    if (this == &o) return *this;
    text = o.text;
    lineNo = o.lineNo;
    depth = o.depth;
    index = o.index;
    breakpoint = o.breakpoint;
    match = o.match;
    kind = o.kind;
    parent = o.parent;
    next = o.next;
    prev = o.prev;
    singleBody = o.singleBody;
    noOp = o.noOp;
    plainNext = o.plainNext;
    pure = o.pure;
    userCall = o.userCall;
    target = o.target;
    return *this;
}

void TagVarRef::Load(TagVar& out) const {
    if (!var) return;
    out = sub ? var->Find(*sub) : *var;
}

void TagOper::Init(const char* srcText, const char*, int32_t line, int32_t opIndex, char opKind, const RecKeyword*) {
    breakpoint = 0;
    singleBody = 0;
    text = srcText ? srcText : "";
    lineNo = line;
    index = opIndex;
    kind = opKind;
}

void TagOper::EvalArgs() {
    for (auto& e : args)
        if (e) e->Run();
}

int32_t TagOper::SplitWords(std::map<std::string, int32_t>& words) const {
    words.clear();
    bool inStr = false, esc = false;
    enum { kNone, kName, kNumber } state = kNone;
    std::string word;
    auto flush = [&] {
        if (state == kName && !word.empty()) words.try_emplace(word, static_cast<int32_t>(words.size()));
        word.clear();
        state = kNone;
    };
    for (unsigned char c : text) {
        if (inStr) {
            if (esc)
                esc = false;
            else if (c == '\\')
                esc = true;
            else if (c == '"')
                inStr = false;
            continue;
        }
        if (c == '"') {
            flush();
            inStr = true;
            continue;
        }
        if (c == ';') break;
        if (c == ' ' || c == '\t' || (c && std::strchr("!%&()*+,-/<=>[]^|~", c))) {
            flush();
            continue;
        }
        if (state == kNone) state = (c >= '0' && c <= '9') || c == '.' ? kNumber : kName;
        if (state == kName) word += static_cast<char>(c);
    }
    flush();
    return static_cast<int32_t>(words.size());
}

void StoreOtherResult(TagOper& op, TagVar& retVal) {
    if (op.target.var == &retVal && !op.target.sub) return;
    TagVar value;
    op.target.Load(value);
    if (op.target.var) retVal = value;
}

} // namespace zz
