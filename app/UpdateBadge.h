#pragma once
// The tab bar's update badge: "Update v1.2.25" with a download symbol while the update manager
// knows of a newer version; it opens the update sheet.
#include <QToolButton>

namespace vorlik::update {
class UpdateManager;
}

namespace vorlik::app {

class UpdateBadge : public QToolButton {
    Q_OBJECT
public:
    explicit UpdateBadge(update::UpdateManager &updater, QWidget *parent = nullptr);

    static QString badgeText(const QString &version); // "Update v" + version
    // The "arrow.down.circle.fill" symbol: a white arrow on a filled circle.
    static QIcon symbol(const QColor &colour);

private:
    void refresh();

    update::UpdateManager &m_updater;
};

} // namespace vorlik::app
