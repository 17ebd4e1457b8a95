#pragma once
// The version text that system information reports: the console's version label followed by "-DeZiv".
#include <string>

namespace zz {

// Sets the version label (the console does, when its main window is made); "-DeZiv" is appended.
void SetVersionLabel(const std::string& label);
std::string VersionText();

} // namespace zz
