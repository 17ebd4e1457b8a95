// File, directory, process and script text-file builtins.
#include <fnmatch.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "builtins/Families.h"
#include "builtins/TTextFileSet.h"
#include "builtins/services/TTxtAppend.h"
#include "engine/TagCallState.h"
#include "engine/TagTelBasic.h"
#include "platform/ChildProcess.h"
#include "platform/FileHandle.h"
#include "platform/Gbk.h"
#include "platform/PathMap.h"
#include "platform/SysTime.h"
#include "platform/TagWriteLog.h"
#include "platform/WakeEvent.h"

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

ZZ_BUILTIN_P_RUN(TagFileMove, 2);
ZZ_BUILTIN_P_RUN(TagFileCopy, 2);
ZZ_BUILTIN_P_RUN(TagFileLenTime, 3);
ZZ_BUILTIN_P_RUN(TagIsDirExist, 2);
ZZ_BUILTIN_P_RUN(TagMakeDir, 1);
ZZ_BUILTIN_P_RUN(TagRemoveDir, 1);
ZZ_BUILTIN_P_RUN(TagGetCurWorkDir, 1);
ZZ_BUILTIN_P_RUN(TagSetCurWorkDir, 1);
ZZ_BUILTIN_L_RUN(TagExec, 3);
ZZ_BUILTIN_P_RUN(TagGetDiskSpace, 3);
ZZ_BUILTIN_P_RUN(TagGetFileList, 4);

namespace {

namespace fs = std::filesystem;

constexpr int32_t kFailedCopy = -4;
constexpr size_t kWorkDirRoom = 1024; // bytes of the working directory handed to a script, NUL included

// The Windows error codes that scripts compare FileMove's result with.
int32_t WindowsError(int e) {
    switch (e) {
    case ENOENT:
        return 2; // ERROR_FILE_NOT_FOUND
    case ENOTDIR:
        return 3; // ERROR_PATH_NOT_FOUND
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
        return 5; // ERROR_ACCESS_DENIED
    case EBUSY:
    case ETXTBSY:
        return 32; // ERROR_SHARING_VIOLATION
    case EEXIST:
    case ENOTEMPTY:
        return 183; // ERROR_ALREADY_EXISTS
    case ENOSPC:
        return 112; // ERROR_DISK_FULL
    case ENAMETOOLONG:
        return 206; // ERROR_FILENAME_EXCED_RANGE
    default:
        return 31; // ERROR_GEN_FAILURE
    }
}

// A missing file is 2, a missing folder on its way 3, as Windows tells them apart.
int32_t MissingError(const std::string& path) {
    fs::path parent = fs::path(path).parent_path();
    std::error_code ec;
    return parent.empty() || fs::is_directory(parent, ec) ? 2 : 3;
}

// One entry of a directory search.
struct FoundFile {
    std::string name; // as stored, without its directory
    int64_t size = 0;
    time_t written = 0;
    bool isDir = false;
};

bool HasWildcard(const std::string& s) {
    return s.find_first_of("*?") != std::string::npos;
}

void Describe(const std::string& path, const std::string& name, std::vector<FoundFile>& out) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return;
    out.push_back({name, int64_t(st.st_size), st.st_mtime, S_ISDIR(st.st_mode)});
}

// The files (and, with dirs, the directories) a Windows directory search of the pattern finds: wildcards in the
// last part, names compared without regard to case, in name order.
std::vector<FoundFile> SearchFiles(const char* pattern, bool dirs) {
    std::vector<FoundFile> found;
    std::string mapped = MapPath(pattern);
    size_t cut = mapped.rfind('/');
    std::string dir = cut == std::string::npos ? "." : cut == 0 ? "/" : mapped.substr(0, cut);
    std::string name = cut == std::string::npos ? mapped : mapped.substr(cut + 1);
    if (name.empty()) return found;
    if (!HasWildcard(name)) {
        std::string path = ResolvePath(mapped);
        Describe(path, path.substr(path.rfind('/') + 1), found);
    } else {
        // Windows' "all files", with or without a dot (assigned by count: GCC 12 warns falsely on name = "*").
        if (name == "*.*") name.assign(1, '*');
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(ResolvePath(dir), ec)) {
            std::string entry = e.path().filename().string();
            if (::fnmatch(name.c_str(), entry.c_str(), FNM_CASEFOLD) == 0) Describe(e.path().string(), entry, found);
        }
        std::sort(found.begin(), found.end(), [](const FoundFile& a, const FoundFile& b) { return a.name < b.name; });
    }
    if (!dirs) std::erase_if(found, [](const FoundFile& f) { return f.isDir; });
    return found;
}

// "%4d%02d%02d %02d:%02d:%02d" of the local write time, seconds even as the packed MS-DOS time keeps them.
std::string FileTimeText(time_t t) {
    LocalTime lt = ToLocalTime(t);
    char text[32];
    std::snprintf(text, sizeof text, "%4d%02d%02d %02d:%02d:%02d", lt.year, lt.month, lt.day, lt.hour, lt.minute,
                  lt.second / 2 * 2);
    return text;
}

int32_t SizeWord(int64_t size) {
    return size > INT32_MAX ? INT32_MAX : int32_t(size);
}

int32_t MoveFile(const std::string& from, const std::string& to) {
    if (::rename(from.c_str(), to.c_str()) == 0) return 0;
    if (errno == ENOENT) {
        std::error_code ec;
        int32_t source = MissingError(from);
        return source == 3 || !fs::exists(from, ec) ? source : MissingError(to);
    }
    if (errno != EXDEV) return WindowsError(errno);
    // Another file system: copied, then the source removed.
    std::error_code ec;
    fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
    if (ec) return WindowsError(ec.value());
    return ::unlink(from.c_str()) == 0 ? 0 : WindowsError(errno);
}

} // namespace

int32_t TagFileMove::Run() {
    std::string from = ResolvePath(Text(0));
    const TagVar& target = Operand(1);
    if (target.type == TagVar::kString) return MoveFile(from, ResolvePath(target.Str()));
    if (target.type != TagVar::kInt) return kFailedCopy;
    if (target.GetInt() == 0)
        return ::unlink(from.c_str()) == 0 ? 0 : errno == ENOENT ? MissingError(from) : WindowsError(errno);
    if (target.GetInt() == 1)
        return FileHandle::Open(from.c_str(), "wb") ? 0 : errno == ENOENT ? MissingError(from) : WindowsError(errno);
    return kFailedCopy;
}

int32_t TagFileCopy::Run() {
    std::error_code ec;
    fs::copy_file(ResolvePath(Text(0)), ResolvePath(Text(1)), fs::copy_options::overwrite_existing, ec);
    return ec ? kFailedCopy : 0;
}

int32_t TagFileLenTime::Run() {
    if (Operand(0).type != TagVar::kString) return kBuiltinBadArg;
    std::vector<FoundFile> found = SearchFiles(Text(0), false);
    if (found.empty()) return -2;
    SetOutInt(1, SizeWord(found[0].size));
    SetOutText(2, FileTimeText(found[0].written));
    return 0;
}

int32_t TagIsDirExist::Run() {
    SetOutInt(1, 0);
    if (Operand(0).type != TagVar::kString) return kBuiltinBadArg;
    if (SearchFiles(Text(0), true).empty()) return -2;
    SetOutInt(1, 1);
    return 0;
}

int32_t TagMakeDir::Run() {
    if (Operand(0).type != TagVar::kString) return kBuiltinBadArg;
    return ::mkdir(ResolvePath(Text(0)).c_str(), 0777) == 0 ? 0 : kBuiltinBadArg;
}

int32_t TagRemoveDir::Run() {
    if (Operand(0).type != TagVar::kString) return kBuiltinBadArg;
    return ::rmdir(ResolvePath(Text(0)).c_str()) == 0 ? 0 : kBuiltinBadArg;
}

int32_t TagGetCurWorkDir::Run() {
    char dir[kWorkDirRoom];
    SetOutText(0, ::getcwd(dir, sizeof dir) ? dir : "");
    return 0;
}

int32_t TagSetCurWorkDir::Run() {
    WriteRunLog((std::string("SetCurWorkDir:") + Text(0)).c_str());
    if (::chdir(ResolvePath(Text(0)).c_str()) != 0) WriteRunLogF("SetCurWorkDir: %s", std::strerror(errno));
    return 0;
}

int32_t TagGetDiskSpace::Run() {
    const TagVar& where = Operand(0);
    std::string path = where.type == TagVar::kString && *where.Str() ? ResolvePath(where.Str()) : ".";
    struct statvfs st;
    if (::statvfs(path.c_str(), &st) != 0) return 0;
    constexpr uint64_t kMiB = 1048576;
    SetOutInt(1, SizeWord(int64_t(uint64_t(st.f_blocks) * st.f_frsize / kMiB)));
    SetOutInt(2, SizeWord(int64_t(uint64_t(st.f_bfree) * st.f_frsize / kMiB)));
    return 1;
}

int32_t TagGetFileList::Run() {
    if (Operand(0).type != TagVar::kString) return kBuiltinBadArg;
    std::vector<FoundFile> found = SearchFiles(Text(0), false);
    int32_t n = 0;
    // A constant in place of a list leaves that list out: its elements refuse the writes.
    for (const FoundFile& f : found) {
        TagVar key = IntValue(n++);
        OutElement(1, key).SetStr(f.name.c_str());
        OutElement(2, key).SetInt(SizeWord(f.size));
        OutElement(3, key).SetStr(FileTimeText(f.written).c_str());
    }
    return n;
}

int32_t TagExec::Run() {
    enum : int32_t { kEnded = 0, kKilled = 1, kLeftRunning = 2 };
    ChildProcess child;
    if (!child.Start(Text(0))) return kBuiltinBadArg;
    int64_t ms = int64_t(IntVal(1)) * 1000;
    if (ms <= 0) return kLeftRunning;
    // The wait blocks on the line's wake event, which the program's end, a quit or a reload signals.
    TagCallState* call = Program() ? Program()->Call() : nullptr;
    WakeEvent own;
    child.Watch(call ? &call->wake : &own);
    auto ended = [&] { return child.Ended(); };
    bool done = call ? call->WaitLine(ms, ended) : own.WaitFor(ms, ended);
    child.Watch(nullptr);
    if (done) {
        SetOutInt(2, child.ExitCode());
        return kEnded;
    }
    if (IntVal(2) == 0) return kLeftRunning;
    child.Kill();
    return kKilled;
}

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
        ZZ_ROW_L(215, TagExec, 3),           // Exec
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
        ZZ_ROW_P(234, TagGetFileList, 4),    // GetFileList
    };
    return rows;
}

} // namespace zz
