#pragma once
// Big5 detection and conversion to simplified-Chinese GBK, used before text is drawn on a fax or spoken.
#include <string>
#include <string_view>

namespace zz {

// True when the text (up to its first zero byte) has a trail byte from 0x40 to 0x7E right after an odd run of
// high bytes, which GB2312 text never has.
bool IsBig5Text(std::string_view text);

// Big5 (code page 950) text to GBK with traditional characters mapped to simplified ones. Bytes that do not
// convert become '?'. Returns result.
std::string& Big5ToGbk(std::string& result, std::string_view text);

} // namespace zz
