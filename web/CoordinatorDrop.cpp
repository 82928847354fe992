// Drop routing: files dropped on a web tab reach the page's own upload controls, through the
// page's file chooser (a click on it, answered with the dropped files) or through the page's
// inject functions (each file read and encoded as Base64).
#include "web/Coordinator.h"

#include "convert/MediaScanner.h"
#include "diagnostics/DiagnosticsLogger.h"
#include "platform/Settings.h"
#include "web/FileChooserRequest.h"
#include "web/InjectedScripts.h"
#include "web/PageScript.h"
#include "web/VorlikWebPage.h"
#include "web/VorlikWebView.h"

#include <QCoroTimer>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMouseEvent>
#include <QSet>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <optional>
#include <vector>

#include <dirent.h>
#include <sys/stat.h>

namespace vorlik::web {

namespace {

void log(const QString &message)
{
    diagnostics::DiagnosticsLogger::shared().log(QStringLiteral("drop"), message);
}

bool dropBridgeLog()
{
    return platform::Settings::standard().boolean(QStringLiteral("dropBridgeLog"));
}

// The last path component of a page address, "?" without one.
QString pageName(const QUrl &url)
{
    if (url.isEmpty())
        return QStringLiteral("?");
    const QString name = url.fileName();
    return name.isEmpty() ? QStringLiteral("/") : name;
}

bool isNumber(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
        return true;
    default:
        return false;
    }
}

void sendMouse(QWidget *input, QEvent::Type type, QPointF local, Qt::MouseButton button, Qt::MouseButtons buttons)
{
    QMouseEvent event(type, local, input->mapToGlobal(local), button, buttons, Qt::NoModifier);
    QCoreApplication::sendEvent(input, &event);
}

// The visible entries of a folder, by name; an unreadable folder has none.
std::vector<QByteArray> visibleEntries(const QByteArray &folder)
{
    std::vector<QByteArray> names;
    DIR *dir = ::opendir(folder.constData());
    if (!dir)
        return names;
    while (const dirent *entry = ::readdir(dir)) {
        if (entry->d_name[0] != '.')
            names.emplace_back(entry->d_name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

// Adds the regular files below folder, depth first, each folder's entries by name; hidden
// entries, package contents and links are passed over. Stops at limit.
void walkFolder(const QString &folder, QList<QUrl> &files, QSet<QString> &seen, int limit)
{
    struct Frame {
        QByteArray path;
        std::vector<QByteArray> entries;
        size_t next = 0;
    };
    std::vector<Frame> stack;
    const QByteArray root = QFile::encodeName(folder);
    stack.push_back(Frame{root, visibleEntries(root), 0});
    while (!stack.empty() && files.size() < limit) {
        Frame &frame = stack.back();
        if (frame.next == frame.entries.size()) {
            stack.pop_back();
            continue;
        }
        const QByteArray &name = frame.entries[frame.next++];
        const QByteArray path = frame.path.endsWith('/') ? frame.path + name : frame.path + '/' + name;
        struct stat info {};
        if (::lstat(path.constData(), &info) != 0)
            continue;
        if (S_ISDIR(info.st_mode)) {
            if (!convert::MediaScanner::packageExtensions().contains(
                    convert::MediaScanner::lastExtension(QFile::decodeName(name))))
                stack.push_back(Frame{path, visibleEntries(path), 0}); // invalidates frame
        } else if (S_ISREG(info.st_mode)) {
            const QString file = QFile::decodeName(path);
            if (!seen.contains(file)) {
                seen.insert(file);
                files.append(QUrl::fromLocalFile(file));
            }
        }
    }
}

} // namespace

QList<QUrl> Coordinator::expandToFiles(const QList<QUrl> &urls, int limit)
{
    QList<QUrl> files;
    QSet<QString> seen;
    for (const QUrl &url : urls) {
        if (files.size() >= limit)
            break;
        if (!url.isLocalFile())
            continue;
        const QString path = QDir::cleanPath(QFileInfo(url.toLocalFile()).absoluteFilePath());
        struct stat info {};
        if (::stat(QFile::encodeName(path).constData(), &info) != 0)
            continue;
        if (S_ISDIR(info.st_mode)) {
            walkFolder(path, files, seen, limit);
        } else if (!seen.contains(path)) {
            seen.insert(path);
            files.append(QUrl::fromLocalFile(path));
        }
    }
    return files;
}

bool Coordinator::bridgeFits(const QList<QUrl> &files) const
{
    return bridgeFits(files, m_bridgeLimit);
}

bool Coordinator::bridgeFits(const QList<QUrl> &files, qint64 limit)
{
    qint64 total = 0;
    for (const QUrl &file : files) {
        total += QFileInfo(file.toLocalFile()).size(); // 0 when it cannot be read
        if (total > limit)
            return false;
    }
    return true;
}

QCoro::Task<void> Coordinator::handleDroppedFiles(QList<QUrl> urls, QPointF dropPoint, QPointer<VorlikWebView> view)
{
    QPointer<Coordinator> self(this);
    const QList<QUrl> files = expandToFiles(urls, dropFileLimit);
    const QUrl pageURL = view && view->page() ? view->page()->url() : QUrl();
    const quint64 drop = ++m_drops;
    m_pendingDroppedFiles = files;
    m_pendingDropNumber = drop;
    m_pendingDropWebView = view;
    m_pendingDropPageURL = pageURL;
    m_pendingDropTimestamp = std::chrono::steady_clock::now();
    log(QStringLiteral("handle files=%1 page=%2").arg(files.size()).arg(pageName(pageURL)));

    const bool anyMxf = std::any_of(files.begin(), files.end(), [](const QUrl &file) {
        return QFileInfo(file.toLocalFile()).suffix().toLower() == QLatin1String("mxf");
    });
    const QString fallback = anyMxf ? QStringLiteral("zImm") : QStringLiteral("z51");
    const ScriptOutcome outcome = co_await PageScript::run(view ? view->page() : nullptr,
                                                           InjectedScripts::dropTarget(dropPoint.x(), dropPoint.y(), fallback));
    // Meanwhile a newer drop may have replaced these files, a page's chooser taken them, or a
    // navigation dropped them: then this drop is done.
    if (!self || !m_pendingDroppedFiles || m_pendingDropNumber != drop)
        co_return;

    const QVariantMap found = outcome.value.toMap();
    if (outcome.error || outcome.value.typeId() != QMetaType::QVariantMap || !isNumber(found.value(QStringLiteral("x")))
        || !isNumber(found.value(QStringLiteral("y")))) {
        log(QStringLiteral("no target found on page"));
        printConsole(QStringLiteral("HANDLE no target"));
        co_return; // the files wait for the page to ask for them
    }
    const double x = found.value(QStringLiteral("x")).toDouble();
    const double y = found.value(QStringLiteral("y")).toDouble();
    const QVariant idValue = found.value(QStringLiteral("id"));
    const QString id = idValue.typeId() == QMetaType::QString ? idValue.toString() : QStringLiteral("?");
    log(QStringLiteral("target=%1 pagePoint=%2,%3").arg(id).arg(qint64(x)).arg(qint64(y)));
    m_retryCount = 0;
    m_lastClickWebView = view;
    m_lastClickPoint = ClickPoint{x, y, id};

    if (bridgeFits(files) || boolSetting("forceBridgeDrop")) {
        injectViaBridge();
        co_return;
    }
    co_await QCoro::sleepFor(clickDelay);
    if (!self)
        co_return;
    co_await clickPagePoint(x, y, id, view);
    if (!self)
        co_return;
    armPanelRetry();
}

QCoro::Task<void> Coordinator::clickPagePoint(double x, double y, QString target, QPointer<VorlikWebView> view)
{
    QPointer<Coordinator> self(this);
    QWidget *window = view ? view->window() : nullptr;
    if (!window || !window->windowHandle() || !view->isVisible()) {
        printConsole(QStringLiteral("HANDLE no window"));
        co_return;
    }
    window->activateWindow();
    window->raise();

    QWidget *input = view->inputWidget();
    const QPointF local = input->mapFrom(view.data(), view->viewPoint(QPointF(x, y)));
    const QPointF global = input->mapToGlobal(local);
    sendMouse(input, QEvent::MouseMove, local, Qt::NoButton, Qt::NoButton);
    co_await QCoro::sleepFor(clickStepDelay);
    if (!self || !view)
        co_return;
    sendMouse(view->inputWidget(), QEvent::MouseButtonPress, local, Qt::LeftButton, Qt::LeftButton);
    co_await QCoro::sleepFor(clickStepDelay);
    if (!self || !view)
        co_return;
    sendMouse(view->inputWidget(), QEvent::MouseButtonRelease, local, Qt::LeftButton, Qt::NoButton);

    const QString where = QStringLiteral("%1,%2 target=%3").arg(qint64(global.x())).arg(qint64(global.y())).arg(target);
    if (dropBridgeLog())
        printConsole(QStringLiteral("HANDLE real click at ") + where);
    log(QStringLiteral("click posted at ") + where);
}

void Coordinator::armPanelRetry()
{
    cancelPendingRetry();
    m_pendingRetry->start(retryInterval);
}

bool Coordinator::isRetryArmed() const
{
    return m_pendingRetry->isActive();
}

void Coordinator::cancelPendingRetry()
{
    m_pendingRetry->stop();
}

QCoro::Task<void> Coordinator::retryClick()
{
    QPointer<Coordinator> self(this);
    if (!m_pendingDroppedFiles || !m_lastClickPoint || !m_lastClickWebView)
        co_return;
    ++m_retryCount;
    if (m_retryCount >= 4) {
        printConsole(QStringLiteral("HANDLE panel never asked after 3 retries — injecting via page bridge"));
        injectViaBridge();
        co_return;
    }
    printConsole(QStringLiteral("HANDLE retry %1").arg(m_retryCount));
    log(QStringLiteral("click retry %1").arg(m_retryCount));
    const ClickPoint point = *m_lastClickPoint;
    co_await clickPagePoint(point.x, point.y, point.target, m_lastClickWebView);
    if (!self)
        co_return;
    armPanelRetry();
}

QStringList Coordinator::runOpenPanel(VorlikWebPage &page, QWebEnginePage::FileSelectionMode mode,
                                      const QStringList &oldFiles, const QStringList &acceptedMimeTypes)
{
    const QUrl current = page.url();
    const int count = m_pendingDroppedFiles ? int(m_pendingDroppedFiles->size()) : 0;
    if (dropBridgeLog())
        printConsole(QStringLiteral("PANEL requested page=%1 (pending=%2)").arg(pageName(current)).arg(count));
    log(QStringLiteral("runOpenPanel page=%1 pending=%2").arg(pageName(current)).arg(count));

    const bool sameView = m_pendingDropWebView && m_pendingDropWebView->page() == &page;
    const bool waitingHere = m_pendingDroppedFiles && sameView && m_pendingDropPageURL == current
        && std::chrono::steady_clock::now() - m_pendingDropTimestamp < panelWindow;
    // Dropped files answer only a request to open files of their kind: a save picker given one
    // would let the page overwrite it.
    if (waitingHere && FileChooserRequest(mode, acceptedMimeTypes).admits(*m_pendingDroppedFiles)) {
        if (dropBridgeLog())
            printConsole(QStringLiteral("PANEL consuming %1 pending files").arg(count));
        const QList<QUrl> files = *m_pendingDroppedFiles;
        clearPendingDrop();
        cancelPendingRetry();
        PageScript::start(page, InjectedScripts::panelConsumed());
        QStringList paths;
        for (const QUrl &file : files)
            paths << file.toLocalFile();
        return paths;
    }
    // The page did ask, for something else: clicking again would only open more dialogs. The
    // files keep waiting for a request they fit.
    if (waitingHere)
        cancelPendingRetry();
    return page.showOpenPanel(mode, oldFiles, acceptedMimeTypes);
}

void Coordinator::clearPendingDrop()
{
    m_pendingDroppedFiles.reset();
    m_pendingDropWebView.clear();
    m_pendingDropPageURL.reset();
}

void Coordinator::injectSimulatedDropIfNeeded(VorlikWebView *view)
{
    if (m_didInjectSimulatedDrop)
        return;
    // A comma-separated list of file paths.
    const QString list = stringSetting("simulateDrop");
    if (list.trimmed().isEmpty())
        return;
    m_didInjectSimulatedDrop = true;
    QList<QUrl> files;
    for (const QString &path : list.split(QLatin1Char(','))) {
        if (!path.trimmed().isEmpty())
            files << QUrl::fromLocalFile(path.trimmed());
    }
    if (view && view->onFilesDropped)
        view->onFilesDropped(files, QPointF(0, 0));
}

void Coordinator::printDropAreaCenter(VorlikWebView *view)
{
    QPointer<QWebEnginePage> page = view ? view->page() : nullptr;
    [](QPointer<QWebEnginePage> page) -> QCoro::Task<void> {
        const ScriptOutcome outcome = co_await PageScript::run(page, InjectedScripts::dropAreaCenter());
        const QVariantMap centre = outcome.value.toMap();
        if (outcome.value.typeId() == QMetaType::QVariantMap && isNumber(centre.value(QStringLiteral("x"))))
            printConsole(QStringLiteral("DROPAREA %1,%2")
                             .arg(qRound64(centre.value(QStringLiteral("x")).toDouble()))
                             .arg(qRound64(centre.value(QStringLiteral("y")).toDouble())));
        else
            printConsole(QStringLiteral("DROPAREA not-found"));
    }(page);
}

void Coordinator::startQueueProbe(VorlikWebView *view)
{
    // Every second for two minutes from each page load, printing the status when it changes.
    m_queueProbeTicks = 0;
    m_queueProbe->disconnect();
    QPointer<VorlikWebView> probed = view;
    auto last = std::make_shared<QString>();
    connect(m_queueProbe, &QTimer::timeout, this, [this, probed, last] {
        if (++m_queueProbeTicks > queueProbeLimit || !probed) {
            m_queueProbe->stop();
            return;
        }
        [](QPointer<QWebEnginePage> page, std::shared_ptr<QString> last) -> QCoro::Task<void> {
            const ScriptOutcome outcome = co_await PageScript::run(page, InjectedScripts::queueStatus());
            const QString status = outcome.value.toString();
            if (outcome.value.typeId() == QMetaType::QString && status != *last) {
                *last = status;
                printConsole(QStringLiteral("QUEUE ") + status);
            }
        }(probed->page(), last);
    });
    m_queueProbe->start();
}

void Coordinator::injectPickerClickIfNeeded(VorlikWebView *view)
{
    if (m_didInjectPickerClick)
        return;
    const QString request = stringSetting("clickChoose");
    if (request.isEmpty())
        return;
    m_didInjectPickerClick = true;
    // The engine opens a file chooser only for a user's click (a script's label.click() is
    // refused), so the label is clicked the way the click path does it.
    [](QPointer<Coordinator> self, QPointer<VorlikWebView> view, QString request) -> QCoro::Task<void> {
        const ScriptOutcome outcome = co_await PageScript::run(view ? view->page() : nullptr, InjectedScripts::chooserLabelCentre(request));
        const QVariantMap centre = outcome.value.toMap();
        if (!self || outcome.value.typeId() != QMetaType::QVariantMap || !isNumber(centre.value(QStringLiteral("x"))))
            co_return;
        const QString target = request.contains(QStringLiteral("folder")) ? QStringLiteral("folder") : QStringLiteral("files");
        co_await self->clickPagePoint(centre.value(QStringLiteral("x")).toDouble(), centre.value(QStringLiteral("y")).toDouble(),
                                      target, view);
    }(this, view, request);
}

} // namespace vorlik::web
