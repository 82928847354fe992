#pragma once
// The Convert tab: a toolbar (Auto start, Install FFmpeg, Convert, Stop, Refresh scripts), the
// preset cards that take dropped or chosen files, the queue with one row per item, and a status
// line. It owns the ConvertRunner for its whole life, follows the store's presets and connection,
// keeps the effective ffmpeg (read again on every settings change), and shows the ffmpeg install
// sheet when none is found.
#include "convert/ConvertRunner.h"
#include "convert/QueueRowDelegate.h"
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
class QGridLayout;
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

class PresetCard;
struct PresetCardDescription;
class QueueModel;

class ConvertView : public QWidget {
    Q_OBJECT
    Q_PROPERTY(bool active READ isActive WRITE setActive NOTIFY activeChanged)
public:
    // The card keys.
    static inline const QString videoCard = QStringLiteral("video");
    static inline const QString audioCard = QStringLiteral("audio");
    static inline const QString normaliseCard = QStringLiteral("normalise");
    static inline const QString videoLoudnessCard = QStringLiteral("videoLoudness");
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
    static QString countsText(const QList<QueueItem> &items);

    // For tests and screenshots.
    PresetCard *card(const QString &key) const { return m_cards.value(key); }
    QList<PresetCard *> visibleCards() const;
    QCheckBox *autoStartSwitch() const { return m_autoStartSwitch; }
    QPushButton *installButton() const { return m_installButton; }
    QPushButton *convertButton() const { return m_convertButton; }
    QPushButton *stopButton() const { return m_stopButton; }
    QPushButton *refreshButton() const { return m_refreshButton; }
    QWidget *signInHint() const { return m_signInHint; }
    QWidget *ffmpegCard() const { return m_ffmpegCard; }
    QListView *queueView() const { return m_queueView; }
    QueueModel *queueModel() const { return m_queueModel; }
    QLabel *queueEmptyLabel() const { return m_queueEmpty; }
    QLabel *countsLabel() const { return m_counts; }
    QPushButton *clearFinishedButton() const { return m_clearFinished; }
    QLabel *statusLabel() const { return m_status; }
    QLabel *outputLabel() const { return m_output; }
    QPushButton *preferencesButton() const { return m_preferences; }
    // Where a row's button lies in the queue view's viewport; empty when the row has none.
    QRect queueButtonRect(int row, QueueRowDelegate::Button button) const;

signals:
    void activeChanged(bool active);
    // The Preferences button: the window brings the settings window to the front.
    void preferencesRequested();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *makeToolbar();
    QWidget *makeFFmpegCard();
    QWidget *makeQueueSection();
    QWidget *makeStatusBar();
    PresetCard *makeCard(const PresetCardDescription &description);
    void appear();
    void refreshFFmpeg();
    void maybePromptInstall();
    void settingChanged(const QString &key);
    void showPresets();
    void showConnection();
    void showToolbar();
    void showQueue();
    void showStatus();
    void layoutCards();
    void fitQueue();
    void rowButtonClicked(const QUuid &id, QueueRowDelegate::Button button);
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
    QHash<QString, PresetCard *> m_cards;
    QStringList m_cardOrder;
    int m_gridColumns = 0;
    QPointer<ffmpeg::FFmpegInstallSheet> m_installSheet;

    QCheckBox *m_autoStartSwitch = nullptr;
    QPushButton *m_installButton = nullptr;
    QPushButton *m_convertButton = nullptr;
    QPushButton *m_stopButton = nullptr;
    QPushButton *m_refreshButton = nullptr;
    QScrollArea *m_scroll = nullptr;
    QWidget *m_signInHint = nullptr;
    QWidget *m_ffmpegCard = nullptr;
    QWidget *m_cardGrid = nullptr;
    QGridLayout *m_cardLayout = nullptr;
    QListView *m_queueView = nullptr;
    QueueRowDelegate *m_queueDelegate = nullptr;
    QLabel *m_queueEmpty = nullptr;
    QLabel *m_counts = nullptr;
    QPushButton *m_clearFinished = nullptr;
    QLabel *m_status = nullptr;
    QLabel *m_output = nullptr;
    QPushButton *m_preferences = nullptr;
};

} // namespace vorlik::convert
