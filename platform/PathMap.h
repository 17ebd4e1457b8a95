#pragma once
// Script and configuration paths come in the original's Windows form. On Linux: '\' and '/' both separate,
// a drive-letter path ("C:\voc\a.wav") is mapped under the configured drive root, and a name that does not exist
// as written is looked up without regard to case, component by component.
#include <string>
#include <string_view>

namespace zz {

// Root under which drive-letter paths are placed: "C:\voc\a.wav" -> root + "/voc/a.wav". Default: the
// environment variable ZUZOD_DRIVE_ROOT, else "/" (so "C:\tmp\x" is "/tmp/x").
void SetDriveRoot(std::string root);
std::string GetDriveRoot();

// Separators to '/', drive letter mapped. No file-system access.
std::string MapPath(std::string_view path);

// MapPath, then, when the result does not exist, the first existing case-insensitive match of each component.
// Returns the mapped path unchanged when nothing matches (so creating a new file uses the written name).
std::string ResolvePath(std::string_view path);

bool FileExists(const std::string& path);

} // namespace zz
