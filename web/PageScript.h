#pragma once
// Running a script in a page's main world from a coroutine. The script runs inside a try
// block, so an exception comes back as its text instead of an empty value.
#include <QCoroTask>
#include <QPointer>
#include <QString>
#include <QVariant>

#include <optional>

class QWebEnginePage;

namespace vorlik::web {

struct ScriptOutcome {
    QVariant value;               // the completion value; empty for undefined, or when the page went away
    std::optional<QString> error; // the exception the script threw
};

class PageScript {
public:
    static QCoro::Task<ScriptOutcome> run(QPointer<QWebEnginePage> page, QString source);
    // Runs it without waiting for the result.
    static void start(QWebEnginePage &page, const QString &source);

    static QString guarded(const QString &source);
    static ScriptOutcome outcomeOf(const QVariant &completion);
};

} // namespace vorlik::web
