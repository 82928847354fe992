// The bridge path of drop routing: each dropped file read, encoded as Base64 and handed to the
// page's inject function. Drops go one after another, in the order they were made, since the
// page collects the parts of one large file at a time.
#include "web/Coordinator.h"

#include "diagnostics/DiagnosticsLogger.h"
#include "web/BridgeInjection.h"
#include "web/PageScript.h"
#include "web/VorlikWebView.h"

#include <QCoroFuture>
#include <QFile>
#include <QFileInfo>
#include <QtConcurrent/QtConcurrentRun>

#include <deque>
#include <optional>

namespace vorlik::web {

namespace {

void log(const QString &message)
{
    diagnostics::DiagnosticsLogger::shared().log(QStringLiteral("drop"), message);
}

// One file for the bridge, read and encoded on a worker thread; none when it cannot be read.
std::optional<QByteArray> readAsBase64(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    return bytes.toBase64();
}

} // namespace

void Coordinator::injectViaBridge()
{
    if (!m_pendingDroppedFiles || !m_pendingDropWebView)
        return;
    const QString target = m_lastClickPoint ? m_lastClickPoint->target : QStringLiteral("correction");
    if (!bridgeFits(*m_pendingDroppedFiles)) {
        printConsole(QStringLiteral("HANDLE bridge too large — leaving to click path"));
        return;
    }
    m_bridgeQueue.push_back(BridgeDelivery{*m_pendingDroppedFiles, target, m_pendingDropWebView});
    clearPendingDrop();
    cancelPendingRetry();
    if (!m_bridgeRunning)
        runBridgeQueue();
}

QCoro::Task<void> Coordinator::runBridgeQueue()
{
    QPointer<Coordinator> self(this);
    m_bridgeRunning = true;
    while (!m_bridgeQueue.empty()) {
        const BridgeDelivery next = m_bridgeQueue.front();
        m_bridgeQueue.pop_front();
        QCoro::Task<void> delivery = encodeAndInject(next.files, next.target, 0, next.view);
        co_await std::move(delivery);
        if (!self)
            co_return;
    }
    m_bridgeRunning = false;
}

QCoro::Task<void> Coordinator::encodeAndInject(QList<QUrl> files, QString target, int index, QPointer<VorlikWebView> view)
{
    QPointer<Coordinator> self(this);
    int delivered = 0;
    for (int i = index; i < files.size() && view; ++i) {
        const QString path = files.at(i).toLocalFile();
        std::optional<QByteArray> base64 = co_await QtConcurrent::run(readAsBase64, path);
        if (!self)
            co_return;
        if (!view)
            break;
        if (!base64)
            continue;
        const QString name = QFileInfo(path).fileName();
        const BridgeInjection injection(target, name, std::move(*base64));
        log(QStringLiteral("bridge injecting %1 (%2 KB base64)").arg(name).arg(injection.base64Length() / 1024));

        // A large file's parts go a few at a time, so that the page reads one while the next is
        // on its way; the call that hands the file over waits until every part arrived, and
        // refuses a file whose parts did not all reach the same page.
        std::deque<QCoro::Task<ScriptOutcome>> sent;
        std::optional<QString> error;
        qsizetype completed = 0;
        const qsizetype calls = injection.scriptCount();
        for (qsizetype n = 0; n <= calls; ++n) {
            const qsizetype room = n >= calls - 1 ? 0 : bridgePartsInFlight - 1;
            while (qsizetype(sent.size()) > room) {
                const ScriptOutcome outcome = co_await std::move(sent.front());
                sent.pop_front();
                if (!self)
                    co_return;
                if (outcome.error && !error)
                    error = outcome.error;
                completed += outcome.error ? 0 : 1;
            }
            if (error || n == calls || !view)
                break;
            sent.push_back(PageScript::run(view->page(), injection.script(n)));
        }
        while (!sent.empty()) { // after an error: the parts already on their way
            co_await std::move(sent.front());
            sent.pop_front();
            if (!self)
                co_return;
        }
        if (error)
            printConsole(QStringLiteral("HANDLE bridge inject error: ") + *error);
        else if (completed == calls)
            ++delivered;
    }
    printConsole(QStringLiteral("HANDLE bridge injected %1 file(s)").arg(delivered));
}

} // namespace vorlik::web
