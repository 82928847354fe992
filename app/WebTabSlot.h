#pragma once
// Where a web tab (Correction or Cinema) sits in the main window. The web engine starts only
// once the window is on screen, so the slot stands empty at first and takes the tab's view
// when it comes; whether the tab is the selected one is kept meanwhile and handed on.
#include <QWidget>

#include <functional>

namespace vorlik::app {

class WebTabSlot : public QWidget {
    Q_OBJECT
    Q_PROPERTY(bool active READ isActive NOTIFY activeChanged)
public:
    WebTabSlot(bool isCorrection, QWidget *parent = nullptr);

    bool isCorrection() const { return m_isCorrection; }
    void setActive(bool active);
    bool isActive() const { return m_active; }

    // Places the tab's view, made with the slot's isActive(); later changes are handed on.
    void attach(QWidget *tab, std::function<void(QWidget *, bool)> setTabActive);
    QWidget *tab() const { return m_tab; }
    // In place of the tab that cannot be made: says so, why, and where the log is.
    void showUnavailable(const QString &reason, const QString &logFile);

signals:
    void activeChanged(bool active);
    void attached();

private:
    bool m_isCorrection;
    bool m_active = false;
    QWidget *m_tab = nullptr;
    std::function<void(QWidget *, bool)> m_setTabActive;
};

} // namespace vorlik::app
