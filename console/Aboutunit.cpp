#include "console/Aboutunit.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace zz {

TAboutForm::TAboutForm(const QString& version, QWidget* parent) : QDialog(parent) {
    setObjectName("AboutForm");
    setWindowTitle("About");
    auto* box = new QVBoxLayout(this);
    auto* text = new QLabel(version, this);
    text->setObjectName("VersionLabel");
    box->addWidget(text);
    auto* ok = new QPushButton("OK", this);
    ok->setObjectName("EnterButt");
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    box->addWidget(ok);
}

} // namespace zz
