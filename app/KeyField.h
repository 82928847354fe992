#pragma once
// The client key's field: hidden as a password is, named for a screen reader. A key pressed
// with Alt (Alt+1 for the first tab, say) is a shortcut that missed, never a hidden letter
// added to the key where nobody sees it.
#include <QLineEdit>

namespace vorlik::app {

class KeyField : public QLineEdit {
    Q_OBJECT
public:
    explicit KeyField(QWidget *parent = nullptr);

protected:
    void keyPressEvent(QKeyEvent *event) override;
};

} // namespace vorlik::app
