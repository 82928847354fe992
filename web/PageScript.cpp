#include "web/PageScript.h"

#include <QVariantMap>
#include <QWebEnginePage>
#include <QWebEngineScript>

#include <coroutine>

namespace vorlik::web {

namespace {

const QString errorKey = QStringLiteral("__vorlikScriptError");

// Resumes the coroutine from the engine's result callback. The engine answers every call, with
// an empty value when the page is destroyed first.
class ScriptAwaiter {
public:
    ScriptAwaiter(QPointer<QWebEnginePage> page, QString source) : m_page(std::move(page)), m_source(std::move(source)) {}

    bool await_ready() const noexcept { return m_page.isNull(); }
    void await_suspend(std::coroutine_handle<> handle)
    {
        m_page->runJavaScript(m_source, QWebEngineScript::MainWorld, [this, handle](const QVariant &value) {
            m_result = value;
            handle.resume();
        });
    }
    QVariant await_resume() { return std::move(m_result); }

private:
    QPointer<QWebEnginePage> m_page;
    QString m_source;
    QVariant m_result;
};

} // namespace

QString PageScript::guarded(const QString &source)
{
    // The completion value of a try statement is that of its block, so the script's own
    // result passes through unchanged.
    return QStringLiteral("try {\n") + source + QStringLiteral("\n} catch (__vorlikError) { ({ ") + errorKey
        + QStringLiteral(": String(__vorlikError) }) }");
}

ScriptOutcome PageScript::outcomeOf(const QVariant &completion)
{
    if (completion.typeId() == QMetaType::QVariantMap) {
        const QVariantMap map = completion.toMap();
        if (map.size() == 1 && map.contains(errorKey))
            return ScriptOutcome{{}, map.value(errorKey).toString()};
    }
    return ScriptOutcome{completion, std::nullopt};
}

QCoro::Task<ScriptOutcome> PageScript::run(QPointer<QWebEnginePage> page, QString source)
{
    if (!page)
        co_return ScriptOutcome{{}, QStringLiteral("the web view is gone")};
    const QVariant completion = co_await ScriptAwaiter(page, guarded(source));
    co_return outcomeOf(completion);
}

void PageScript::start(QWebEnginePage &page, const QString &source)
{
    page.runJavaScript(guarded(source), QWebEngineScript::MainWorld);
}

} // namespace vorlik::web
