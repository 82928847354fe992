#pragma once
// A pop-up list that a screen reader names by its label, not by its current choice (Qt's own
// combo box tells its choice as its name on Linux); the choice is its value.
#include <QComboBox>

namespace vorlik::convert {

class NamedPicker : public QComboBox {
    Q_OBJECT
public:
    NamedPicker(const QString &name, QWidget *parent = nullptr);
};

} // namespace vorlik::convert
