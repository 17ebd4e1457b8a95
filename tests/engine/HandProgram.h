#pragma once
// Programs built by hand for the run-loop and debugger tests: operations appended to a unit and linked in
// order, as the compiler leaves them.
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "engine/TagCall.h"
#include "engine/TagTelBasic.h"

namespace zz::test {

// An operation whose Run is a test's function.
class TagDo : public TagOper {
public:
    explicit TagDo(std::function<int32_t()> f, char k = 'g') : f_(std::move(f)) { kind = k; }
    int32_t Run() override { return f_ ? f_() : 0; }

private:
    std::function<int32_t()> f_;
};

// Goes on at another operation (a loop's way back to its head).
class TagJump : public TagOper {
public:
    explicit TagJump(TagOper* to) : to_(to) {}
    int32_t Run() override { return 0; }
    TagOper* Next() override { return to_; }

private:
    TagOper* to_;
};

// Appends op to unit and links it after the previous one.
template <class T> T* Append(TagTelBasic& unit, std::unique_ptr<T> op, const std::string& text = "") {
    T* p = op.get();
    p->index = unit.opCount;
    p->lineNo = unit.opCount + 1;
    p->text = text.empty() ? "op" + std::to_string(unit.opCount) : text;
    if (TagOper* prev = unit.Op(unit.opCount - 1)) prev->next = p;
    unit.ops[unit.opCount] = std::move(op);
    ++unit.opCount;
    return p;
}

inline TagDo* AppendDo(TagTelBasic& unit, std::function<int32_t()> f, const std::string& text = "") {
    return Append(unit, std::make_unique<TagDo>(std::move(f)), text);
}

// A function unit of main with the given parameter names, and its function variable in main.
inline TagTelBasic* AddFunction(TagTelBasic& main, const std::string& name,
                                std::initializer_list<const char*> params = {}) {
    auto unit = std::make_unique<TagTelBasic>(main.scriptFile.c_str(), name.c_str(), &main);
    unit->defText = "function " + name + "()";
    for (const char* p : params)
        unit->AddParam(p);
    TagTelBasic* u = main.subList.Add(std::move(unit));
    TagVar* fn = nullptr; // a symbol, so a TagNamedVar
    main.FindOrCreateVar(name.c_str(), &fn);
    static_cast<TagNamedVar*>(fn)->InitFunc(name.c_str(), "", u, 1);
    return u;
}

inline TagVar* FuncVar(TagTelBasic& main, const std::string& name) {
    TagVar* v = nullptr;
    main.FindOwnVar(name.c_str(), &v);
    return v;
}

// A main program on a virtual line.
struct HandLine {
    explicit HandLine(int32_t line = 3) {
        call.lineNo = line;
        main.lineNo = line;
        main.pKvCall = &call;
        main.scriptFile = "hand.kvs";
    }
    HandLine(const HandLine&) = delete;
    HandLine& operator=(const HandLine&) = delete;

    TagCallState call;
    TagTelBasic main;
};

} // namespace zz::test
