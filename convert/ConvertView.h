#pragma once
// The Convert tab: a toolbar (Auto start, Install FFmpeg, Convert, Stop, Refresh scripts), the
// preset cards that take dropped or chosen files, the queue with one row per item, and a status
// line. It owns the ConvertRunner for its whole life, follows the store's presets and connection,
// keeps the effective ffmpeg (read again on every settings change), and shows the ffmpeg install
// sheet when none is found.
#include "convert/ConvertRunner.h"
#include "convert/PresetCardGrid.h"
#include "convert/QueueRowDelegate.h"
#include "convert/QueueSection.h"
#include "ffmpeg/FFmpegInstallSheet.h"
#include "service/Preset.h"

#include <QCoroTask>
#include <QHash>
#include <QList>
#include <QPointer>
#include <QUrl>
#include <QWidget>

#include <optional>

class QCheckBox;
class QLabel;
class QListView;
class QPushButton;
class QScrollArea;

namespace vorlik::platform {
class Settings;
}
namespace vorlik::service {
class SessionStore;
}

namespace vorlik::convert {

class ConvertStatusBar;
class ConvertToolbar;
class PresetCard;
class QueueModel;

class ConvertView : public QWidget {
    Q_OBJECT
    Q_PROPERTY(bool active READ isActive WRITE setActive NOTIFY activeChanged)
public:
    // The card keys.
    static inline const QString &videoCard = PresetCardGrid::videoCard;
    static inline const QString &audioCard = PresetCardGrid::audioCard;
    static inline const QString &normaliseCard = PresetCardGrid::normaliseCard;
    static inline const QString &videoLoudnessCard = PresetCardGrid::videoLoudnessCard;
    static constexpr int installPromptDelayMs = 600;

    explicit ConvertView(service::SessionStore &store, QWidget *parent = nullptr);
    ConvertView(service::SessionStore &store, platform::Settings &settings, QWidget *parent = nullptr);
    ~ConvertView() override;

    // The window says whether the Convert tab is the selected one.
    void setActive(bool active);
    bool isActive() const { return m_active; }

    ConvertRunner &runner() { return *m_runner; }
    const ConvertRunner &runner() const { return *m_runner; }
    // The ffmpeg conversions use: the settings' override, else the one the locator finds.
    const std::optional<QString> &ffmpeg() const { return m_ffmpeg; }
    bool autoStart() const { return m_autoStart; }
    void setAutoStart(bool on);

    // Queues the media files among the URLs for the preset and, with auto start on, ffmpeg
    // present and no run going, starts converting.
    void enqueue(const QList<QUrl> &urls, const service::Preset &preset);
    // What a drop on a card does: queues the files while the page is shown; otherwise hands them
    // to the web tab that is showing (accepted even when no tab takes them); else refuses.
    bool dropOnCard(const QString &cardKey, const QList<QUrl> &files);
    // The card's "Clear": when the runner is idle, removes every item of the card's preset.
    void clearCard(const QString &cardKey);
    // "Refresh scripts": fetches the preset list again with the session's token.
    QCoro::Task<void> refreshScripts();
    // Starts the queue with the store's presets and the effective ffmpeg.
    void convert();
    void chooseFiles(const QString &cardKey);
    void chooseFolder(const QString &cardKey);
    // A drag hovers over the card (its drop area lights up).
    bool isDropping(const QString &cardKey) const { return m_isDropping.value(cardKey); }

    // The install sheet, made on first use and kept.
    void showInstallSheet();
    ffmpeg::FFmpegInstallSheet *installSheet() const { return m_installSheet; }
    bool didAutoPromptInstall() const { return m_didAutoPromptInstall; }

    // The preset a card uses now; none when the card is left out.
    std::optional<service::Preset> presetFor(const QString &cardKey) const;
    void chooseVideoCodec(const QString &presetID);
    void chooseNormaliseTarget(const QString &presetID);

    // Texts of the page.
    static QString readyLine(bool connected, bool hasFFmpeg, bool autoStart);
    QString statusText() const;
    QString outputText() const;
    static QString countsText(const QList<QueueItem> &items) { return QueueSection::countsText(items); }

    // For tests and screenshots.
    PresetCard *card(const QString &key) const { return m_cardGrid->card(key); }
    QList<PresetCard *> visibleCards() const { return m_cardGrid->visibleCards(); }
    ConvertToolbar *toolbar() const { return m_toolbar; }
    QCheckBox *autoStartSwitch() const;
    QPushButton *installButton() const;
    QPushButton *convertButton() const;
    QPushButton *stopButton() const;
    QPushButton *refreshButton() const;
    QWidget *signInHint() const { return m_signInHint; }
    QWidget *ffmpegCard() const { return m_ffmpegCard; }
    QueueSection *queueSection() const { return m_queue; }
    QListView *queueView() const { return m_queue->view(); }
    QueueModel *queueModel() const { return m_queueModel; }
    QLabel *queueEmptyLabel() const { return m_queue->emptyLabel(); }
    QLabel *countsLabel() const { return m_queue->countsLabel(); }
    QPushButton *clearFinishedButton() const { return m_queue->clearFinishedButton(); }
    ConvertStatusBar *statusBar() const { return m_statusBar; }
    QLabel *statusLabel() const;
    QLabel *outputLabel() const;
    QPushButton *preferencesButton() const;
    // Where a row's button lies in the queue view's viewport; empty when the row has none.
    QRect queueButtonRect(int row, QueueRowDelegate::Button button) const { return m_queue->buttonRect(row, button); }

signals:
    void activeChanged(bool active);
    // The Preferences button: the window brings the settings window to the front.
    void preferencesRequested();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *makeFFmpegCard();
    void wireCard(PresetCard *card);
    void appear();
    void refreshFFmpeg();
    void maybePromptInstall();
    void settingChanged(const QString &key);
    void showPresets();
    void showConnection();
    void showToolbar();
    void showQueue();
    void showStatus();
    void layoutCards(bool cardsChanged = false);
    void rowButtonClicked(const QUuid &id, QueueRowDelegate::Button button);
    // Starts the runner with the settings' number of simultaneous conversions.
    void startRun();
    void setDropping(const QString &cardKey, bool dropping);

    service::SessionStore &m_store;
    platform::Settings &m_settings;
    ConvertRunner *m_runner;
    QueueModel *m_queueModel;
    bool m_active = false;
    bool m_autoStart = false;
    std::optional<QString> m_ffmpeg;
    bool m_didAutoPromptInstall = false;
    std::optional<QString> m_selectedVideoCodecID;
    std::optional<QString> m_selectedNormaliseID;
    QHash<QString, bool> m_isDropping;
    QPointer<ffmpeg::FFmpegInstallSheet> m_installSheet;

    ConvertToolbar *m_toolbar = nullptr;
    QScrollArea *m_scroll = nullptr;
    QWidget *m_signInHint = nullptr;
    QWidget *m_ffmpegCard = nullptr;
    PresetCardGrid *m_cardGrid = nullptr;
    QueueSection *m_queue = nullptr;
    ConvertStatusBar *m_statusBar = nullptr;
};

} // namespace vorlik::convert
