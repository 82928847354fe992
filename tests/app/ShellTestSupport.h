#pragma once
// Shared by the shell's widget tests: the stand-in service, screenshots under build/screenshots/,
// modal alerts answered from a timer, the log lines of one category, and the widgets they read.
#include "tests/support/DevServer.h"
#include "tests/support/LogLines.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/Screenshots.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <functional>

class QMessageBox;

namespace vorlik::test {

DevServer &shellServer();

// The requests the service received to `path` since the last reset.
QList<QJsonObject> requestsTo(const QString &path);

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
