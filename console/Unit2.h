#pragma once
// The variable query: a typed name looked up among the paused script's parameters, constants and variables;
// shows its kind, value and note. Escape closes it.
#include <QDialog>

#include <functional>
#include <string>

class QLineEdit;
class QLabel;

namespace zz {

class TVarViewForm : public QDialog {
public:
    // kind, value, note for a name: 0 found, -1 not.
    using Lookup =
        std::function<int(const std::string& name, std::string& kind, std::string& value, std::string& note)>;
    TVarViewForm(const QString& caption, Lookup lookup, QWidget* parent = nullptr);
    void Query(const QString& name);

private:
    Lookup lookup_;
    QLineEdit* name_;
    QLabel *kind_, *value_, *note_;
};

} // namespace zz
