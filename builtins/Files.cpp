// File, directory, process and script text-file builtins.
#include "builtins/Families.h"

#include <string>

#include "builtins/TTextFileSet.h"
#include "builtins/services/TTxtAppend.h"
#include "engine/TagTelBasic.h"

namespace zz {

// TextFileAppend(file, value, mode): the value's text into the shared append file (mode as TTxtRec::Write).
ZZ_BUILTIN_L_RUN(TagTextFileAppend, 3);
int32_t TagTextFileAppend::Run() {
    return TheTxtAppend().Append(Text(0), Program() ? Program()->lineNo : 0, Operand(1).ToString(), IntVal(2));
}

// TextFileClose(file): closes the shared append file; -1 when it is not open.
class TagTextFileClose final : public BuiltinP<1> {
public:
    using Base = BuiltinP<1>;
    using Base::Base;
    int32_t Run() override { return TheTxtAppend().Close(Text(0)); }
};

ZZ_BUILTIN_P(TagFileMove, 2);
ZZ_BUILTIN_P(TagFileCopy, 2);
ZZ_BUILTIN_P(TagFileLenTime, 3);
ZZ_BUILTIN_P(TagIsDirExist, 2);
ZZ_BUILTIN_P(TagMakeDir, 1);
ZZ_BUILTIN_P(TagRemoveDir, 1);
ZZ_BUILTIN_P(TagGetCurWorkDir, 1);
ZZ_BUILTIN_P(TagSetCurWorkDir, 1);
ZZ_BUILTIN_P(TagExec, 3);

// The line's text files by handle: each forwards to the text-file set of the line's program.
namespace {
TTextFileSet& LineFiles(TagTelBasic* program) {
    return program->LineState<TextFileState>().files;
}
} // namespace

// FileOpen(name, mode, var handle): the handle or -1, in the variable too.
ZZ_BUILTIN_L_RUN(TagFileOpen, 3);
int32_t TagFileOpen::Run() {
    int32_t h = LineFiles(Program()).Open(Text(0), Text(1));
    SetOutInt(2, h);
    return h;
}

ZZ_BUILTIN_L_RUN(TagFileClose, 1);
int32_t TagFileClose::Run() {
    LineFiles(Program()).Close(IntVal(0));
    return kBuiltinOk;
}

ZZ_BUILTIN_L_RUN(TagFileCloseAll, 0);
int32_t TagFileCloseAll::Run() {
    LineFiles(Program()).CloseAll();
    return kBuiltinOk;
}

// FileRead(handle, count, var): count bytes, or the rest of the file for a count of 0 or less.
ZZ_BUILTIN_L_RUN(TagFileRead, 3);
int32_t TagFileRead::Run() {
    return IntVal(1) > 0 ? LineFiles(Program()).Read(IntVal(0), IntVal(1), Operand(2))
                         : LineFiles(Program()).ReadAll(IntVal(0), Operand(2));
}

ZZ_BUILTIN_L_RUN(TagFileReadLine, 2);
int32_t TagFileReadLine::Run() {
    return LineFiles(Program()).ReadLine(IntVal(0), Operand(1));
}

ZZ_BUILTIN_L_RUN(TagFileReadLines, 2);
int32_t TagFileReadLines::Run() {
    return LineFiles(Program()).ReadLines(IntVal(0), Operand(1));
}

ZZ_BUILTIN_L_RUN(TagFileMapLines, 2);
int32_t TagFileMapLines::Run() {
    return LineFiles(Program()).MapLines(IntVal(0), Operand(1));
}

ZZ_BUILTIN_L_RUN(TagFileSeek, 2);
int32_t TagFileSeek::Run() {
    return LineFiles(Program()).Seek(IntVal(0), IntVal(1));
}

ZZ_BUILTIN_L_RUN(TagFileWrite, 2);
int32_t TagFileWrite::Run() {
    return LineFiles(Program()).Write(IntVal(0), Operand(1));
}

ZZ_BUILTIN_P(TagGetDiskSpace, 3);
ZZ_BUILTIN_P(TagGetMemInfo, 4);
ZZ_BUILTIN_P(TagGetFileList, 4);

std::span<const BuiltinEntry> FilesBuiltins() {
    static const BuiltinEntry rows[] = {
        ZZ_ROW_L(205, TagTextFileAppend, 3), // TextFileAppend
        ZZ_ROW_P(206, TagTextFileClose, 1),  // TextFileClose
        ZZ_ROW_P(207, TagFileMove, 2),       // FileMove
        ZZ_ROW_P(208, TagFileCopy, 2),       // FileCopy
        ZZ_ROW_P(209, TagFileLenTime, 3),    // FileLenTime
        ZZ_ROW_P(210, TagIsDirExist, 2),     // IsDirExist
        ZZ_ROW_P(211, TagMakeDir, 1),        // MakeDir
        ZZ_ROW_P(212, TagRemoveDir, 1),      // RemoveDir
        ZZ_ROW_P(213, TagGetCurWorkDir, 1),  // GetCurWorkDir
        ZZ_ROW_P(214, TagSetCurWorkDir, 1),  // SetCurWorkDir
        ZZ_ROW_P(215, TagExec, 3),           // Exec
        ZZ_ROW_L(223, TagFileOpen, 3),       // FileOpen
        ZZ_ROW_L(224, TagFileClose, 1),      // FileClose
        ZZ_ROW_L(225, TagFileCloseAll, 0),   // FileCloseAll
        ZZ_ROW_L(226, TagFileRead, 3),       // FileRead
        ZZ_ROW_L(227, TagFileReadLine, 2),   // FileReadLine
        ZZ_ROW_L(228, TagFileReadLines, 2),  // FileReadLines
        ZZ_ROW_L(229, TagFileMapLines, 2),   // FileMapLines
        ZZ_ROW_L(230, TagFileSeek, 2),       // FileSeek
        ZZ_ROW_L(231, TagFileWrite, 2),      // FileWrite
        ZZ_ROW_P(232, TagGetDiskSpace, 3),   // GetDiskSpace
        ZZ_ROW_P(233, TagGetMemInfo, 4),     // GetMemInfo
        ZZ_ROW_P(234, TagGetFileList, 4),    // GetFileList
    };
    return rows;
}

} // namespace zz
