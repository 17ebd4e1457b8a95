#pragma once
// The About form: the version text, closed with its button.
#include <QDialog>

namespace zz {

class TAboutForm : public QDialog {
public:
    TAboutForm(const QString& version, QWidget* parent = nullptr);
};

} // namespace zz
