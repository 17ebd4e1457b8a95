#pragma once
// Values kept by the services shared between lines (message records, shared memory) outlive the statement that
// stored them, so they hold their own reference to an object they contain, given back when the kept value goes.
// Such a value reaches another line, so an object in it is a copy of its own (TagVar::AssignDetached): the line
// that stored it and the lines that read it never touch one object from two threads.
#include "engine/TagVar.h"

namespace zz {

// Lets go of the object v holds, if any; v is then empty.
inline void ReleaseValue(TagVar& v) {
    if (v.type != TagVar::kObject) return;
    TagVar empty;
    v = empty;
}

// A kept value: copying counts the reference of an object it holds, destruction gives it back.
class HeldVar {
public:
    HeldVar() = default;
    HeldVar(const HeldVar& o) { v.AssignDetached(o.v); }
    HeldVar& operator=(const HeldVar& o) {
        v.AssignDetached(o.v);
        return *this;
    }
    ~HeldVar() { ReleaseValue(v); }

    TagVar v;
};

} // namespace zz
