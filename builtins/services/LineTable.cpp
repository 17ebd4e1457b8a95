#include "builtins/services/LineTable.h"

#include "telephony/TagTelDrive.h"
#include "telephony/TagTelLine.h"

namespace zz {

int32_t LinesCount() {
    TagTelDrive* d = GetTelDrive();
    return d ? d->LineCount() : 0;
}

LineProgram::LineProgram(int32_t line) {
    TagTelDrive* d = GetTelDrive();
    TagTelLine* e = d ? d->Line(line) : nullptr;
    if (!e) return;
    lock_ = std::unique_lock<std::mutex>(e->programLock);
    program_ = e->program;
}

} // namespace zz
