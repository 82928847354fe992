#pragma once
// An empty page: stands where a page is switched off (the web tabs under "skipWebTabs") or not
// built into this program yet.
#include <QWidget>

namespace vorlik::app {

class PlaceholderPage : public QWidget {
    Q_OBJECT
    Q_PROPERTY(bool active READ isActive NOTIFY activeChanged)
public:
    explicit PlaceholderPage(const QString &name, QWidget *parent = nullptr);

    void setActive(bool active);
    bool isActive() const { return m_active; }

signals:
    void activeChanged(bool active);

private:
    bool m_active = false;
};

} // namespace vorlik::app
