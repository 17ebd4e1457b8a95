#pragma once
// Values kept by the services shared between lines (message records, shared memory) outlive the statement that
// stored them, so they hold their own reference to an object they contain: taken by whole-value assignment and
// given back when the kept value goes. The one place where the services handle object references.
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
    HeldVar(const HeldVar& o) { v = o.v; }
    HeldVar& operator=(const HeldVar& o) {
        v = o.v;
        return *this;
    }
    ~HeldVar() { ReleaseValue(v); }

    TagVar v;
};

} // namespace zz
