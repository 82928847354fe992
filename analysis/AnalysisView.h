#pragma once
// The Analysis tab: a drop card that takes audio files (dropped or chosen), a sign-in hint while
// no session is connected, one card per queued file (opened, the report or the error), and a
// status bar. It owns the AnalysisRunner for its whole life and starts a run whenever files
// are queued or retried while the store is connected. Saves a finished job's report file.
#include "analysis/AnalysisRunner.h"

#include <QCoroTask>
#include <QPointer>
#include <QUuid>
#include <QWidget>

class QLabel;
class QProgressBar;
class QPushButton;

namespace vorlik::platform {
class Settings;
}
namespace vorlik::service {
class SessionStore;
struct ConnectionState;
}

namespace vorlik::analysis {

class AnalysisDropCard;
class AnalysisItemCard;
class AnalysisItemList;
class AnalysisStatusBar;
class CardDropTarget;
class DropArea;

class AnalysisView : public QWidget {
    Q_OBJECT
    Q_PROPERTY(bool active READ isActive WRITE setActive NOTIFY activeChanged)
public:
    // The settings give the start-up hooks ("connectKey", "autoAnalyze"); the standard store
    // when none is given.
    explicit AnalysisView(service::SessionStore &store, QWidget *parent = nullptr);
    AnalysisView(service::SessionStore &store, platform::Settings &settings, QWidget *parent = nullptr);
    ~AnalysisView() override;

    // The window says whether the Analysis tab is the selected one; the drop card takes drags
    // only while it is.
    void setActive(bool active);
    bool isActive() const { return m_active; }

    AnalysisRunner &runner() { return *m_runner; }
    const AnalysisRunner &runner() const { return *m_runner; }

    // Queues the audio files among the URLs (folders are walked) and starts a run when the store
    // is connected, no run is going and something is left to do.
    void enqueue(const QList<QUrl> &urls);
    // Puts an item back to do and starts a run when connected and idle.
    void retry(const QUuid &id);
    void toggleExpanded(const QUuid &id);
    bool isExpanded(const QUuid &id) const;

    // The open panels ("Choose Files", "Choose Folder") and the save panel of a report.
    void chooseFiles();
    void chooseFolder();
    void saveReport(const QUuid &id);
    // What the save panel does once a file is chosen: downloads the job's report and writes
    // its bytes unchanged and atomically to `path`; the status line says how it went.
    QCoro::Task<void> saveReportTo(QUuid id, QString path);

    // Texts of the page.
    static QString connectionText(const service::ConnectionState &state);
    static QColor connectionColor(const service::ConnectionState &state);
    QString statusText() const;

    // For tests and screenshots.
    CardDropTarget *dropTarget() const { return m_dropTarget; }
    AnalysisDropCard *dropCard() const { return m_dropCard; }
    DropArea *dropArea() const;
    AnalysisItemList *itemList() const { return m_itemList; }
    AnalysisItemCard *itemCard(const QUuid &id) const;
    QList<AnalysisItemCard *> itemCards() const;
    QWidget *signInHint() const { return m_signInHint; }
    AnalysisStatusBar *statusBar() const { return m_statusBar; }
    QLabel *connectionLabel() const;
    QLabel *statusLabel() const;
    QLabel *counterLabel() const;
    QProgressBar *busyIndicator() const;
    QPushButton *clearButton() const;
    QPushButton *stopButton() const;
    QPushButton *chooseFilesButton() const;
    QPushButton *chooseFolderButton() const;
    QPushButton *preferencesButton() const;

signals:
    void activeChanged(bool active);
    // The Preferences button: the window brings the settings window to the front.
    void preferencesRequested();

private:
    QWidget *makeSignInHint();
    void removeItem(const QUuid &id);
    void appear();
    void showConnection();
    void showRunState();
    void showItems();
    void keepReadingOrder();
    void showStatus();
    void startRunIfReady(bool requirePending);

    service::SessionStore &m_store;
    platform::Settings &m_settings;
    AnalysisRunner *m_runner;
    bool m_active = false;
    bool m_isDropping = false;

    AnalysisDropCard *m_dropCard = nullptr;
    CardDropTarget *m_dropTarget = nullptr;
    QWidget *m_signInHint = nullptr;
    AnalysisItemList *m_itemList = nullptr;
    AnalysisStatusBar *m_statusBar = nullptr;
    QList<AnalysisItemCard *> m_orderedCards; // the cards as the Tab order last put them
};

} // namespace vorlik::analysis
