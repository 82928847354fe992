#include "convert/ConvertView.h"

#include "analysis/AnalysisCard.h"
#include "analysis/PageHooks.h"
#include "analysis/PageStyle.h"
#include "convert/ConvertStatusBar.h"
#include "convert/ConvertToolbar.h"
#include "convert/FileReveal.h"
#include "convert/PresetCard.h"
#include "convert/PresetSelection.h"
#include "convert/QueueModel.h"
#include "ffmpeg/FFmpegInstallSheet.h"
#include "ffmpeg/Preferences.h"
#include "platform/Failure.h"
#include "platform/Settings.h"
#include "service/APIClient.h"
#include "service/SessionStore.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QTimer>
#include <QVBoxLayout>

namespace vorlik::convert {
namespace {

using analysis::style::secondaryText;
using analysis::style::setTextColor;

using service::Preset;

} // namespace

ConvertView::ConvertView(service::SessionStore &store, QWidget *parent)
    : ConvertView(store, platform::Settings::standard(), parent)
{
}

ConvertView::ConvertView(service::SessionStore &store, platform::Settings &settings, QWidget *parent)
    : QWidget(parent), m_store(store), m_settings(settings), m_runner(new ConvertRunner(this)),
      m_queueModel(new QueueModel(*m_runner, store, this)), m_autoStart(settings.autoStartConvert()),
      m_ffmpeg(ffmpeg::Preferences::effectiveFFmpeg(settings))
{
    setObjectName(QStringLiteral("convertView"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(18, 12, 18, 10);
    layout->setSpacing(10);
    m_toolbar = new ConvertToolbar(m_autoStart, this);
    connect(m_toolbar, &ConvertToolbar::autoStartToggled, this, &ConvertView::setAutoStart);
    connect(m_toolbar, &ConvertToolbar::installRequested, this, &ConvertView::showInstallSheet);
    connect(m_toolbar, &ConvertToolbar::convertRequested, this, &ConvertView::convert);
    connect(m_toolbar, &ConvertToolbar::stopRequested, this, [this] { m_runner->cancel(); });
    connect(m_toolbar, &ConvertToolbar::refreshRequested, this, [this] { refreshScripts(); });
    layout->addWidget(m_toolbar);

    auto *content = new QWidget;
    content->setObjectName(QStringLiteral("convertContent"));
    content->setAutoFillBackground(false);
    auto *contentLayout = new QVBoxLayout(content);
    contentLayout->setContentsMargins(0, 0, 4, 0);
    contentLayout->setSpacing(12);

    m_signInHint = new QLabel(QStringLiteral("Sign in with your client key from the top-right connection menu to fetch "
                                             "the conversion scripts."),
                              content);
    m_signInHint->setObjectName(QStringLiteral("signInHint"));
    static_cast<QLabel *>(m_signInHint)->setWordWrap(true);
    setTextColor(m_signInHint, secondaryText);
    contentLayout->addWidget(m_signInHint);
    contentLayout->addWidget(makeFFmpegCard());

    m_cardGrid = new PresetCardGrid(m_queueModel, content);
    for (PresetCard *card : m_cardGrid->cards())
        wireCard(card);
    contentLayout->addWidget(m_cardGrid);
    m_queue = new QueueSection(m_queueModel);
    connect(m_queue, &QueueSection::clearFinishedRequested, this, [this] { m_runner->clearFinished(); });
    connect(m_queue, &QueueSection::rowButtonClicked, this, &ConvertView::rowButtonClicked);
    contentLayout->addWidget(m_queue);
    contentLayout->addStretch(1);

    m_scroll = new QScrollArea(this);
    m_scroll->setWidget(content);
    m_scroll->setWidgetResizable(true);
    m_scroll->setFrameShape(QFrame::NoFrame);
    // No Tab stop of its own, where the focus would show no mark: Tab goes through the
    // controls, and the area scrolls to the one that has the focus.
    m_scroll->setFocusPolicy(Qt::NoFocus);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->viewport()->setAutoFillBackground(false);
    m_scroll->installEventFilter(this);
    layout->addWidget(m_scroll, 1);
    m_statusBar = new ConvertStatusBar(this);
    connect(m_statusBar, &ConvertStatusBar::preferencesRequested, this, &ConvertView::preferencesRequested);
    layout->addWidget(m_statusBar);

    connect(m_runner, &ConvertRunner::itemsChanged, this, [this] {
        showToolbar();
        showQueue();
    });
    connect(m_runner, &ConvertRunner::statusLineChanged, this, &ConvertView::showStatus);
    connect(m_runner, &ConvertRunner::isRunningChanged, this, &ConvertView::showToolbar);
    connect(m_runner, &ConvertRunner::runStateChanged, this, &ConvertView::showToolbar);
    connect(&m_store, &service::SessionStore::presetsChanged, this, &ConvertView::showPresets);
    connect(&m_store, &service::SessionStore::stateChanged, this, [this] {
        showConnection();
        showStatus();
    });
    connect(&m_settings, &platform::Settings::changed, this, &ConvertView::settingChanged);

    showPresets();
    showConnection();
    showToolbar();
    showQueue();
    showStatus();
    // The start-up steps run once the window around the page is built.
    QTimer::singleShot(0, this, &ConvertView::appear);
}

ConvertView::~ConvertView() = default;

QWidget *ConvertView::makeFFmpegCard()
{
    auto *card = new analysis::AnalysisCard;
    card->setObjectName(QStringLiteral("ffmpegRequiredCard"));
    auto *title = new QLabel(QStringLiteral("FFmpeg is required"), card);
    QFont titleFont = title->font();
    titleFont.setWeight(QFont::Bold);
    title->setFont(titleFont);
    auto *text = new QLabel(QStringLiteral("The Convert page runs FFmpeg on your computer \u2014 it isn't installed yet. "
                                           "Click Install FFmpeg to download it from Vorlik (SHA-256 verified)."),
                            card);
    text->setObjectName(QStringLiteral("ffmpegRequiredText"));
    text->setWordWrap(true);
    auto *install = new QPushButton(QStringLiteral("Install FFmpeg"), card);
    install->setObjectName(QStringLiteral("ffmpegCardInstall"));
    connect(install, &QPushButton::clicked, this, &ConvertView::showInstallSheet);

    auto *texts = new QVBoxLayout;
    texts->setSpacing(4);
    texts->addWidget(title);
    texts->addWidget(text);
    auto *layout = new QHBoxLayout(card);
    layout->setContentsMargins(16, 12, 16, 12);
    layout->setSpacing(16);
    layout->addLayout(texts, 1);
    layout->addWidget(install, 0, Qt::AlignVCenter);
    m_ffmpegCard = card;
    return card;
}

void ConvertView::setActive(bool active)
{
    if (m_active == active)
        return;
    m_active = active;
    if (active) {
        // An ffmpeg installed from the settings window changes no setting: look again.
        refreshFFmpeg();
        maybePromptInstall();
    }
    emit activeChanged(active);
}

void ConvertView::appear()
{
    refreshFFmpeg();
    maybePromptInstall();
    analysis::PageHooks::connectKey(m_store, m_settings);
    if (const std::optional<QList<QUrl>> files = analysis::PageHooks::fileList(m_settings, QStringLiteral("autoConvert"))) {
        QPointer<ConvertView> self(this);
        analysis::PageHooks::whenReady(
            this,
            [self] {
                return self && self->m_store.state().isConnected()
                       && PresetSelection::m4a(self->m_store.presets()).has_value() && self->m_ffmpeg.has_value();
            },
            [self, urls = *files] {
                if (self)
                    self->enqueue(urls, *PresetSelection::m4a(self->m_store.presets()));
            });
    }
}

void ConvertView::maybePromptInstall()
{
    if (m_ffmpeg || m_didAutoPromptInstall || !m_active)
        return;
    m_didAutoPromptInstall = true;
    QTimer::singleShot(installPromptDelayMs, this, [this] {
        if (!m_ffmpeg)
            showInstallSheet();
    });
}

void ConvertView::refreshFFmpeg()
{
    const std::optional<QString> found = ffmpeg::Preferences::effectiveFFmpeg(m_settings);
    if (found == m_ffmpeg)
        return;
    m_ffmpeg = found;
    m_ffmpegCard->setVisible(!m_ffmpeg);
    showToolbar();
    showStatus();
}

void ConvertView::settingChanged(const QString &key)
{
    refreshFFmpeg();
    if (key == QLatin1String("autoStartConvert")) {
        const bool stored = m_settings.autoStartConvert();
        if (stored != m_autoStart) {
            m_autoStart = stored;
            showToolbar();
        }
    }
    showStatus();
}

void ConvertView::setAutoStart(bool on)
{
    if (m_autoStart == on)
        return;
    m_autoStart = on;
    m_settings.setValue(QStringLiteral("autoStartConvert"), on);
    showToolbar();
    showStatus();
}

void ConvertView::showInstallSheet()
{
    if (!m_installSheet) {
        m_installSheet = new ffmpeg::FFmpegInstallSheet(this);
        connect(m_installSheet, &ffmpeg::FFmpegInstallSheet::installed, this, &ConvertView::refreshFFmpeg);
        connect(m_installSheet, &QDialog::finished, this, &ConvertView::refreshFFmpeg);
    }
    m_installSheet->present();
}

void ConvertView::enqueue(const QList<QUrl> &urls, const Preset &preset)
{
    m_runner->queue(urls, preset.id);
    if (m_autoStart && !m_runner->isRunning() && m_ffmpeg)
        startRun();
}

QCoro::Task<void> ConvertView::refreshScripts()
{
    if (!m_store.session())
        co_return;
    const QString token = m_store.session()->accessToken;
    // Like the store's own preset fetch: an answer for a session that was dropped or replaced
    // meanwhile is not written over the newer state.
    const qint64 generation = m_store.generation();
    const quint64 sessionEpoch = m_store.sessionEpoch();
    QPointer<ConvertView> self(this);
    std::optional<service::PresetsPayload> fetched;
    QString failure;
    try {
        QCoro::Task<service::PresetsPayload> fetch = service::APIClient::fetchPresets(token);
        fetched = co_await fetch;
    } catch (const std::exception &error) {
        failure = describe(error);
    }
    if (!self || m_store.generation() != generation || m_store.sessionEpoch() != sessionEpoch)
        co_return;
    if (!fetched) {
        m_runner->setStatusLine(QStringLiteral("Could not refresh scripts: ") + failure);
        co_return;
    }
    m_store.setPresets(fetched->presets);
    m_runner->setStatusLine(QStringLiteral("Scripts refreshed from the VPS."));
}

void ConvertView::convert()
{
    if (!m_ffmpeg || !m_runner->hasPending() || m_runner->isRunning())
        return;
    startRun();
}

void ConvertView::startRun()
{
    m_runner->setSimultaneousConversions(ConvertRunner::simultaneousConversions(m_settings));
    m_runner->run(m_store.presets(), *m_ffmpeg, &m_store);
}

QString ConvertView::readyLine(bool connected, bool hasFFmpeg, bool autoStart)
{
    if (!connected)
        return QStringLiteral("Sign in from the top-right connection menu to fetch the conversion scripts.");
    if (!hasFFmpeg)
        return QStringLiteral("Install ffmpeg in Preferences to convert.");
    if (autoStart)
        return QStringLiteral("Auto start on \u2014 drop files to convert.");
    return QStringLiteral("Ready.");
}

QString ConvertView::statusText() const
{
    if (!m_runner->statusLine().isEmpty())
        return m_runner->statusLine();
    return readyLine(m_store.state().isConnected(), m_ffmpeg.has_value(), m_autoStart);
}

QString ConvertView::outputText() const
{
    if (ffmpeg::Preferences::exportLocation(m_settings) == ffmpeg::ExportLocation::sameAsSource)
        return QStringLiteral("Output: same folder as each source");
    return QStringLiteral("Output: ") + m_settings.exportFolderPath();
}

void ConvertView::rowButtonClicked(const QUuid &id, QueueRowDelegate::Button button)
{
    switch (button) {
    case QueueRowDelegate::Button::retry:
        m_runner->retry(id);
        break;
    case QueueRowDelegate::Button::remove:
        m_runner->remove(id);
        break;
    case QueueRowDelegate::Button::reveal:
        for (const QueueItem &item : m_runner->items()) {
            if (item.id == id && item.output)
                FileReveal::reveal(*item.output);
        }
        break;
    }
}

void ConvertView::showConnection()
{
    m_signInHint->setVisible(!m_store.state().isConnected());
}

void ConvertView::showToolbar()
{
    m_toolbar->showState({m_autoStart, m_ffmpeg.has_value(), m_runner->hasPending(), m_runner->isRunning(),
                          m_runner->runState() == ConvertRunner::RunState::stopping});
    m_ffmpegCard->setVisible(!m_ffmpeg);
}

void ConvertView::showQueue()
{
    m_queue->showItems(m_runner->items());
}

void ConvertView::showStatus()
{
    m_statusBar->showTexts(statusText(), outputText());
}

QCheckBox *ConvertView::autoStartSwitch() const { return m_toolbar->autoStartSwitch(); }
QPushButton *ConvertView::installButton() const { return m_toolbar->installButton(); }
QPushButton *ConvertView::convertButton() const { return m_toolbar->convertButton(); }
QPushButton *ConvertView::stopButton() const { return m_toolbar->stopButton(); }
QPushButton *ConvertView::refreshButton() const { return m_toolbar->refreshButton(); }
QLabel *ConvertView::statusLabel() const { return m_statusBar->statusLabel(); }
QLabel *ConvertView::outputLabel() const { return m_statusBar->outputLabel(); }
QPushButton *ConvertView::preferencesButton() const { return m_statusBar->preferencesButton(); }

} // namespace vorlik::convert
