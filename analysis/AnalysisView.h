#pragma once
// The Analysis tab: a drop card that takes audio files (dropped or chosen), a sign-in hint while
// no session is connected, one card per queued file (opened, the report or the error), and a
// status bar. It owns the AnalysisRunner for its whole life and starts a run whenever files
// are queued or retried while the store is connected. Saves a finished job's report file.
#include "analysis/AnalysisRunner.h"

#include <QCoroTask>
#include <QHash>
#include <QPointer>
#include <QSet>
#include <QUuid>
#include <QWidget>

class QLabel;
class QProgressBar;
class QPushButton;
class QScrollArea;
class QVBoxLayout;

namespace vorlik::platform {
class Settings;
}
namespace vorlik::service {
class SessionStore;
struct ConnectionState;
}

namespace vorlik::analysis {

class AnalysisItemCard;
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
    bool isExpanded(const QUuid &id) const { return m_expanded.contains(id); }

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
    DropArea *dropArea() const { return m_dropArea; }
    AnalysisItemCard *itemCard(const QUuid &id) const { return m_cards.value(id); }
    QList<AnalysisItemCard *> itemCards() const;
    QWidget *signInHint() const { return m_signInHint; }
    QLabel *connectionLabel() const { return m_connection; }
    QLabel *statusLabel() const { return m_status; }
    QLabel *counterLabel() const { return m_counter; }
    QProgressBar *busyIndicator() const { return m_busy; }
    QPushButton *clearButton() const { return m_clear; }
    QPushButton *stopButton() const { return m_stop; }
    QPushButton *chooseFilesButton() const { return m_chooseFiles; }
    QPushButton *chooseFolderButton() const { return m_chooseFolder; }
    QPushButton *preferencesButton() const { return m_preferences; }

signals:
    void activeChanged(bool active);
    // The Preferences button: the window brings the settings window to the front.
    void preferencesRequested();

private:
    QWidget *makeDropCard();
    QWidget *makeSignInHint();
    QWidget *makeStatusBar();
    void appear();
    void showConnection();
    void showRunState();
    void showItems();
    void showStatus();
    void startRunIfReady(bool requirePending);

    service::SessionStore &m_store;
    platform::Settings &m_settings;
    AnalysisRunner *m_runner;
    bool m_active = false;
    bool m_isDropping = false;
    QSet<QUuid> m_expanded;
    QHash<QUuid, AnalysisItemCard *> m_cards;

    CardDropTarget *m_dropTarget = nullptr;
    DropArea *m_dropArea = nullptr;
    QProgressBar *m_busy = nullptr;
    QLabel *m_connection = nullptr;
    QPushButton *m_clear = nullptr;
    QPushButton *m_chooseFiles = nullptr;
    QPushButton *m_chooseFolder = nullptr;
    QPushButton *m_stop = nullptr;
    QWidget *m_signInHint = nullptr;
    QScrollArea *m_scroll = nullptr;
    QWidget *m_itemsBox = nullptr;
    QVBoxLayout *m_itemsLayout = nullptr;
    QLabel *m_status = nullptr;
    QLabel *m_counter = nullptr;
    QPushButton *m_preferences = nullptr;
};

} // namespace vorlik::analysis
