#pragma once
// The variables one statement uses, "name: value" per line, shown at the mouse.
#include <QDialog>

namespace zz {

class TOperVarsForm : public QDialog {
public:
    TOperVarsForm(const QString& text, QWidget* parent = nullptr);
};

} // namespace zz
