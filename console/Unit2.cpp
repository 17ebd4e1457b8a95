#include "console/Unit2.h"

#include "console/QtText.h"

#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace zz {

TVarViewForm::TVarViewForm(const QString& caption, Lookup lookup, QWidget* parent)
    : QDialog(parent), lookup_(std::move(lookup)) {
    setObjectName("VarViewForm");
    setWindowTitle(caption);
    auto* form = new QFormLayout(this);
    name_ = new QLineEdit(this);
    kind_ = new QLabel(this);
    value_ = new QLabel(this);
    note_ = new QLabel(this);
    value_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* go = new QPushButton(U("查询"), this);
    form->addRow(U("变量名"), name_);
    form->addRow(go);
    form->addRow(U("类型"), kind_);
    form->addRow(U("值"), value_);
    form->addRow(U("注释"), note_);
    connect(go, &QPushButton::clicked, this, [this] { Query(name_->text()); });
    connect(name_, &QLineEdit::returnPressed, this, [this] { Query(name_->text()); });
}

void TVarViewForm::Query(const QString& name) {
    name_->setText(name);
    std::string kind, value, note;
    if (lookup_) lookup_(G(name), kind, value, note);
    kind_->setText(Q(kind));
    value_->setText(Q(value));
    note_->setText(Q(note));
}

} // namespace zz
