#pragma once
// Shared by the shell's widget tests: the stand-in service, waiting on the event loop for a
// condition, screenshots under build/screenshots/, modal alerts answered from a timer, and the
// log lines of one category.
#include "tests/support/DevServer.h"
#include "tests/support/LogLines.h"

#include <gtest/gtest.h>

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <ostream>

class QMessageBox;
class QWidget;

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString &text, std::ostream *out) { *out << '"' << text.toStdString() << '"'; }
QT_END_NAMESPACE

namespace vorlik::test {

DevServer &shellServer();

// Lets the event loop run until `done` holds; gives up after a generous cap and answers done().
bool waitUntil(const std::function<bool()> &done, int capMilliseconds = 30000);
// Runs the event loop for a while (lets queued work and repaints happen).
void spinEventLoop(int milliseconds);

// Saves widget->grab() as build/screenshots/<name>.png.
void saveScreenshot(QWidget *widget, const QString &name);

// The requests the service received to `path` since the last reset.
QList<QJsonObject> requestsTo(const QString &path);
QStringList requestedPaths();

QJsonObject fault(const QString &method, const QString &path, const QString &action, int status = 500,
                  int count = 1);

// Answers the next modal message boxes from a timer: records what they said, lets `inspect`
// look at the box (a screenshot), and presses their first button.
class AlertAnswerer {
public:
    struct Seen {
        QString text;
        QString informativeText;
        QStringList buttons;
    };

    explicit AlertAnswerer(std::function<void(QMessageBox *)> inspect = {});
    const QList<Seen> &seen() const { return m_seen; }

private:
    void poll();

    QTimer m_timer;
    QList<Seen> m_seen;
    std::function<void(QMessageBox *)> m_inspect;
    bool m_answering = false; // the inspection may run the event loop, and the timer with it
};

} // namespace vorlik::test
