#pragma once
// A desktop notification when a long queue ends unseen: a conversion or analysis run that went
// on for more than 30 seconds and ended while the window was not the active one says how it
// ended (the page's summary line).
#include <QObject>
#include <QString>

#include <chrono>

class QWidget;

namespace vorlik::app {

class QueueEndNotice : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::seconds longRun{30};

    // Follows the page's runner; the notice object lives as long as the page.
    static void watch(QWidget *page, const QString &title);

    // A run that lasted `ran` is worth a notice when it ended unseen.
    static bool worthNotice(std::chrono::milliseconds ran, bool windowActive)
    {
        return ran > longRun && !windowActive;
    }

private:
    QueueEndNotice(QWidget *page, const QString &title);
    void started();
    void ended(const QString &summary);

    QWidget *m_page;
    QString m_title;
    std::chrono::steady_clock::time_point m_started;
};

} // namespace vorlik::app
