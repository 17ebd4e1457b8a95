#include "console/Unit3.h"

#include <QLabel>
#include <QVBoxLayout>

namespace zz {

TOperVarsForm::TOperVarsForm(const QString& text, QWidget* parent) : QDialog(parent) {
    setObjectName("OperVarsForm");
    auto* box = new QVBoxLayout(this);
    auto* label = new QLabel(text, this);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    box->addWidget(label);
}

} // namespace zz
