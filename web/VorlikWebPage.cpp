#include "web/VorlikWebPage.h"

#include "web/Coordinator.h"

namespace vorlik::web {

VorlikWebPage::VorlikWebPage(QWebEngineProfile *profile, Coordinator &coordinator, QObject *parent)
    : QWebEnginePage(profile, parent), m_coordinator(&coordinator)
{
}

VorlikWebPage::~VorlikWebPage() = default;

QStringList VorlikWebPage::showOpenPanel(FileSelectionMode mode, const QStringList &oldFiles,
                                         const QStringList &acceptedMimeTypes)
{
    return QWebEnginePage::chooseFiles(mode, oldFiles, acceptedMimeTypes);
}

bool VorlikWebPage::acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame)
{
    return m_coordinator && m_coordinator->decidePolicy(url, type, isMainFrame);
}

QStringList VorlikWebPage::chooseFiles(FileSelectionMode mode, const QStringList &oldFiles,
                                       const QStringList &acceptedMimeTypes)
{
    if (!m_coordinator)
        return {};
    return m_coordinator->runOpenPanel(*this, mode, oldFiles, acceptedMimeTypes);
}

QWebEnginePage *VorlikWebPage::createWindow(WebWindowType)
{
    return nullptr;
}

void VorlikWebPage::javaScriptAlert(const QUrl &, const QString &) {}

bool VorlikWebPage::javaScriptConfirm(const QUrl &, const QString &)
{
    return false;
}

bool VorlikWebPage::javaScriptPrompt(const QUrl &, const QString &, const QString &, QString *)
{
    return false;
}

} // namespace vorlik::web
