#pragma once
// The page of a web tab: hands navigation decisions and file-chooser requests to the tab's
// Coordinator, and shows no alert, confirm or prompt panels and no new windows.
#include <QPointer>
#include <QWebEnginePage>

namespace vorlik::web {

class Coordinator;

class VorlikWebPage : public QWebEnginePage {
    Q_OBJECT
public:
    VorlikWebPage(QWebEngineProfile *profile, Coordinator &coordinator, QObject *parent = nullptr);
    ~VorlikWebPage() override;

    // The desktop's file dialog, as the page asked for it (folders, one file or several).
    QStringList showOpenPanel(FileSelectionMode mode, const QStringList &oldFiles, const QStringList &acceptedMimeTypes);

protected:
    bool acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame) override;
    QStringList chooseFiles(FileSelectionMode mode, const QStringList &oldFiles,
                            const QStringList &acceptedMimeTypes) override;
    QWebEnginePage *createWindow(WebWindowType type) override;
    void javaScriptAlert(const QUrl &securityOrigin, const QString &message) override;
    bool javaScriptConfirm(const QUrl &securityOrigin, const QString &message) override;
    bool javaScriptPrompt(const QUrl &securityOrigin, const QString &message, const QString &defaultValue,
                          QString *result) override;

private:
    QPointer<Coordinator> m_coordinator;
};

} // namespace vorlik::web
