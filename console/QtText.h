#pragma once
// The system's texts are GBK bytes; Qt speaks UTF-16. These convert at that edge. The Qt view's own sources are
// compiled as UTF-8 (Qt's headers hold characters GBK lacks), so their literals go through U, never Q.
#include "platform/Gbk.h"

#include <QString>
#include <string>

namespace zz {

inline QString Q(const std::string& gbk) {
    return QString::fromUtf8(GbkToUtf8(gbk));
}
inline QString U(const char* utf8) {
    return QString::fromUtf8(utf8);
}
inline std::string G(const QString& text) {
    return Utf8ToGbk(text.toUtf8().toStdString());
}

} // namespace zz
