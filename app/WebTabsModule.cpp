#include "app/WebTabsModule.h"

#include "diagnostics/DiagnosticsLogger.h"
#include "web/WebTabsInterface.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibrary>
#include <QOpenGLContext>

// Qt's setter of the application-wide shared context (exported by QtGui, not in its public
// headers); what AA_ShareOpenGLContexts makes at start-up, made later here.
Q_GUI_EXPORT void qt_gl_set_global_share_context(QOpenGLContext *context);

namespace vorlik::app {

namespace {

QString &programFolderOverride()
{
    static QString folder;
    return folder;
}

// Qt warns that the attribute belongs before the application exists; here it is set on
// purpose afterwards, before anything that reads it (the web engine) is loaded.
QtMessageHandler previousHandler = nullptr;
void withoutAttributeWarning(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtWarningMsg && message.startsWith(QLatin1String("Attribute Qt::AA_ShareOpenGLContexts must be set")))
        return;
    if (previousHandler)
        previousHandler(type, context, message);
}

QString &loadFailure()
{
    static QString failure;
    return failure;
}

void log(const QString &message)
{
    diagnostics::DiagnosticsLogger::shared().log(QStringLiteral("web"), message);
}

} // namespace

void WebTabsModule::setProgramFolder(const QString &folder)
{
    programFolderOverride() = folder;
}

QStringList WebTabsModule::candidates(const QString &programFolder)
{
    const QDir program(programFolder);
    return {program.filePath(fileName()),
            QDir::cleanPath(program.filePath(QStringLiteral("../lib/vorlik-desktop/") + fileName()))};
}

void WebTabsModule::prepareSharedContexts()
{
    if (QOpenGLContext::globalShareContext())
        return;
    previousHandler = qInstallMessageHandler(withoutAttributeWarning);
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    qInstallMessageHandler(previousHandler);
    auto *context = new QOpenGLContext(QCoreApplication::instance());
    context->setFormat(QSurfaceFormat::defaultFormat());
    // Kept even when it cannot be made (no OpenGL here): the engine then draws in software,
    // but it still reads the shared context's format.
    context->create();
    qt_gl_set_global_share_context(context);
}

const web::WebTabsInterface *WebTabsModule::open(const QString &path, QString *failure)
{
    // Never unloaded: its views live as long as the window.
    QLibrary library(path);
    library.setLoadHints(QLibrary::ResolveAllSymbolsHint);
    if (!library.load()) {
        *failure = library.errorString();
        return nullptr;
    }
    // A missing symbol leaves the library's error string as it was ("Unknown error").
    const auto entry = reinterpret_cast<web::WebTabsEntry>(library.resolve("vorlik_web_tabs"));
    if (!entry) {
        *failure = path + QStringLiteral(": the module has no entry point vorlik_web_tabs");
        return nullptr;
    }
    const web::WebTabsInterface *found = entry();
    if (!found || found->version != web::WebTabsInterface::currentVersion) {
        *failure = path + QStringLiteral(": another build's module");
        return nullptr;
    }
    return found;
}

QString WebTabsModule::failure()
{
    return loadFailure();
}

const web::WebTabsInterface *WebTabsModule::load()
{
    static bool tried = false;
    static const web::WebTabsInterface *table = nullptr;
    if (tried)
        return table;
    tried = true;

    prepareSharedContexts();
    const QString folder = programFolderOverride().isEmpty() ? QCoreApplication::applicationDirPath()
                                                             : programFolderOverride();
    QStringList failures;
    for (const QString &path : candidates(folder)) {
        if (!QFileInfo::exists(path))
            continue;
        QString failure;
        table = open(path, &failure);
        if (table)
            return table;
        failures.append(failure);
    }
    loadFailure() = failures.isEmpty() ? QStringLiteral("%1 not found beside the program").arg(fileName())
                                       : failures.join(QStringLiteral("; "));
    log(QStringLiteral("web tabs unavailable: ") + loadFailure());
    return nullptr;
}

} // namespace vorlik::app
