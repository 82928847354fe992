#include "convert/ConvertView.h"

#include "analysis/AnalysisCard.h"
#include "analysis/CardDropTarget.h"
#include "analysis/DropArea.h"
#include "analysis/PageHooks.h"
#include "analysis/PageStyle.h"
#include "convert/FileReveal.h"
#include "convert/MediaScanner.h"
#include "convert/PresetCard.h"
#include "convert/PresetSelection.h"
#include "convert/QueueModel.h"
#include "ffmpeg/FFmpegInstallSheet.h"
#include "ffmpeg/Preferences.h"
#include "platform/BuildInfo.h"
#include "platform/Failure.h"
#include "platform/Settings.h"
#include "service/APIClient.h"
#include "service/SessionStore.h"
#include "web/DropRouter.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QScrollArea>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace vorlik::convert {
namespace {

using analysis::style::secondaryText;
using analysis::style::setTextColor;
using analysis::style::setText;

using service::Preset;

constexpr int minimumCardWidth = 240;
constexpr int cardSpacing = 12;

QLabel *heading(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    QFont font = label->font();
    font.setWeight(QFont::Bold);
    font.setLetterSpacing(QFont::AbsoluteSpacing, 0.6);
    label->setFont(font);
    return label;
}

QString mediaFilter()
{
    QStringList patterns;
    for (const QString &extension : MediaScanner::mediaExtensions())
        patterns << QStringLiteral("*.") + extension;
    patterns.sort();
    return QStringLiteral("Audio and video (") + patterns.join(u' ') + u')';
}

const QList<PresetCardDescription> &cardDescriptions()
{
    static const QList<PresetCardDescription> cards{
        {ConvertView::videoCard, QStringLiteral("film"), QStringLiteral("VIDEO"),
         QStringLiteral("Drag and drop video files here"), QStringLiteral("applied to every video"),
         QStringLiteral("mp4 \u00B7 mov \u00B7 m4v \u00B7 mkv \u00B7 avi \u00B7 webm"), QStringLiteral("CODEC")},
        {ConvertView::audioCard, QStringLiteral("headphones"), QStringLiteral("AUDIO \u2192 M4A"),
         QStringLiteral("Drag and drop M4A files or folders here"), QString(),
         QStringLiteral("m4a \u00B7 converted locally"), QString()},
        {ConvertView::normaliseCard, QStringLiteral("waveform"), QStringLiteral("Normalize to LUFS"),
         QStringLiteral("Drag and drop WAV files here"), QStringLiteral("always with a \u22121 dBTP limiter"),
         QStringLiteral("wav \u00B7 normalized locally"), QStringLiteral("TARGET")},
        {ConvertView::videoLoudnessCard, QStringLiteral("film.stack"), QStringLiteral("Video Normalize \u221214 LKFS"),
         QStringLiteral("Drag and drop video files here"), QString(),
         QStringLiteral("audio normalised \u00B7 video passthrough"), QString()},
    };
    return cards;
}

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
    layout->addWidget(makeToolbar());

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

    m_cardGrid = new QWidget(content);
    m_cardLayout = new QGridLayout(m_cardGrid);
    m_cardLayout->setContentsMargins(0, 0, 0, 0);
    m_cardLayout->setSpacing(cardSpacing);
    for (const PresetCardDescription &description : cardDescriptions()) {
        m_cards.insert(description.key, makeCard(description));
        m_cardOrder.append(description.key);
    }
    contentLayout->addWidget(m_cardGrid);
    contentLayout->addWidget(makeQueueSection());
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
    layout->addWidget(makeStatusBar());

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

QWidget *ConvertView::makeToolbar()
{
    auto *bar = new QWidget(this);
    bar->setObjectName(QStringLiteral("toolbar"));
    m_autoStartSwitch = new QCheckBox(QStringLiteral("Auto start"), bar);
    m_autoStartSwitch->setChecked(m_autoStart);
    connect(m_autoStartSwitch, &QCheckBox::toggled, this, &ConvertView::setAutoStart);
    m_installButton = new QPushButton(QStringLiteral("Install FFmpeg"), bar);
    connect(m_installButton, &QPushButton::clicked, this, &ConvertView::showInstallSheet);
    m_convertButton = new QPushButton(QStringLiteral("Convert"), bar);
    m_convertButton->setDefault(true);
    connect(m_convertButton, &QPushButton::clicked, this, &ConvertView::convert);
    m_stopButton = new QPushButton(QStringLiteral("Stop"), bar);
    connect(m_stopButton, &QPushButton::clicked, this, [this] { m_runner->cancel(); });
    m_refreshButton = new QPushButton(QStringLiteral("Refresh scripts"), bar);
    connect(m_refreshButton, &QPushButton::clicked, this, [this] { refreshScripts(); });

    auto *layout = new QHBoxLayout(bar);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    layout->addWidget(m_autoStartSwitch);
    layout->addStretch(1);
    layout->addWidget(m_installButton);
    layout->addWidget(m_convertButton);
    layout->addWidget(m_stopButton);
    layout->addWidget(m_refreshButton);
    return bar;
}

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

PresetCard *ConvertView::makeCard(const PresetCardDescription &description)
{
    auto *card = new PresetCard(description, m_queueModel, m_cardGrid);
    const QString key = description.key;
    card->dropTarget()->setOnTargeted([this, key](bool on) { setDropping(key, on); });
    card->dropTarget()->setOnDrop([this, key](const QList<QUrl> &files) { return dropOnCard(key, files); });
    connect(card, &PresetCard::chooseFilesRequested, this, [this, key] { chooseFiles(key); });
    connect(card, &PresetCard::chooseFolderRequested, this, [this, key] { chooseFolder(key); });
    connect(card, &PresetCard::clearRequested, this, [this, key] { clearCard(key); });
    if (key == videoCard)
        connect(card, &PresetCard::presetChosen, this, &ConvertView::chooseVideoCodec);
    else if (key == normaliseCard)
        connect(card, &PresetCard::presetChosen, this, &ConvertView::chooseNormaliseTarget);
    return card;
}

QWidget *ConvertView::makeQueueSection()
{
    auto *section = new QWidget;
    section->setObjectName(QStringLiteral("queueSection"));
    m_counts = new QLabel(section);
    m_counts->setObjectName(QStringLiteral("queueCounts"));
    setTextColor(m_counts, secondaryText);
    m_clearFinished = new QPushButton(QStringLiteral("Clear finished"), section);
    connect(m_clearFinished, &QPushButton::clicked, this, [this] { m_runner->clearFinished(); });
    auto *header = new QHBoxLayout;
    header->setSpacing(12);
    header->addWidget(heading(QStringLiteral("QUEUE"), section));
    header->addWidget(m_counts);
    header->addStretch(1);
    header->addWidget(m_clearFinished);

    m_queueEmpty = new QLabel(QStringLiteral("Nothing queued yet \u2014 drop files on a card above."), section);
    m_queueEmpty->setObjectName(QStringLiteral("queueEmpty"));
    setTextColor(m_queueEmpty, secondaryText);

    m_queueView = new QListView(section);
    m_queueView->setObjectName(QStringLiteral("queueView"));
    m_queueView->setModel(m_queueModel);
    m_queueDelegate = new QueueRowDelegate(m_queueView);
    m_queueView->setItemDelegate(m_queueDelegate);
    m_queueView->setSelectionMode(QAbstractItemView::NoSelection);
    m_queueView->setFocusPolicy(Qt::NoFocus);
    m_queueView->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_queueView->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_queueView->setFrameShape(QFrame::NoFrame);
    m_queueView->setMouseTracking(false);
    connect(m_queueDelegate, &QueueRowDelegate::clicked, this, &ConvertView::rowButtonClicked);
    connect(m_queueModel, &QAbstractItemModel::rowsInserted, this, &ConvertView::fitQueue);
    connect(m_queueModel, &QAbstractItemModel::rowsRemoved, this, &ConvertView::fitQueue);
    connect(m_queueModel, &QAbstractItemModel::modelReset, this, &ConvertView::fitQueue);
    connect(m_queueModel, &QueueModel::rowHeightsChanged, this, [this] {
        m_queueView->doItemsLayout();
        fitQueue();
    });

    auto *layout = new QVBoxLayout(section);
    layout->setContentsMargins(0, 4, 0, 0);
    layout->setSpacing(6);
    layout->addLayout(header);
    layout->addWidget(m_queueEmpty);
    layout->addWidget(m_queueView);
    fitQueue();
    return section;
}

QWidget *ConvertView::makeStatusBar()
{
    auto *bar = new QWidget(this);
    bar->setObjectName(QStringLiteral("statusBar"));
    m_status = new QLabel(bar);
    m_status->setObjectName(QStringLiteral("statusLine"));
    m_status->setTextFormat(Qt::PlainText);
    m_status->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_output = new QLabel(bar);
    m_output->setObjectName(QStringLiteral("outputLine"));
    m_output->setTextFormat(Qt::PlainText);
    m_output->setMaximumWidth(420);
    setTextColor(m_output, secondaryText);
    m_preferences = new QPushButton(QStringLiteral("Preferences"), bar);
    connect(m_preferences, &QPushButton::clicked, this, &ConvertView::preferencesRequested);
    auto *app = new QLabel(QStringLiteral("\u00B7 ") + platform::appName() + u' ' + platform::appVersion(), bar);
    app->setObjectName(QStringLiteral("appLabel"));
    setTextColor(app, secondaryText);

    auto *layout = new QHBoxLayout(bar);
    layout->setContentsMargins(2, 0, 2, 0);
    layout->setSpacing(12);
    layout->addWidget(m_status, 1);
    layout->addWidget(m_output);
    layout->addWidget(m_preferences);
    layout->addWidget(app);
    return bar;
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

std::optional<Preset> ConvertView::presetFor(const QString &cardKey) const
{
    const QList<Preset> &presets = m_store.presets();
    if (cardKey == videoCard)
        return PresetSelection::selectedVideo(presets, m_selectedVideoCodecID);
    if (cardKey == audioCard)
        return PresetSelection::m4a(presets);
    if (cardKey == normaliseCard)
        return PresetSelection::selectedLoudness(presets, m_selectedNormaliseID);
    if (cardKey == videoLoudnessCard)
        return PresetSelection::videoLoudness(presets);
    return std::nullopt;
}

void ConvertView::chooseVideoCodec(const QString &presetID)
{
    m_selectedVideoCodecID = presetID;
    showPresets();
}

void ConvertView::chooseNormaliseTarget(const QString &presetID)
{
    m_selectedNormaliseID = presetID;
    showPresets();
}

void ConvertView::enqueue(const QList<QUrl> &urls, const Preset &preset)
{
    m_runner->queue(urls, preset.id);
    if (m_autoStart && !m_runner->isRunning() && m_ffmpeg)
        m_runner->run(m_store.presets(), *m_ffmpeg, &m_store);
}

void ConvertView::setDropping(const QString &cardKey, bool dropping)
{
    m_isDropping[cardKey] = dropping;
    if (PresetCard *card = m_cards.value(cardKey))
        card->dropArea()->setHighlighted(dropping);
}

bool ConvertView::dropOnCard(const QString &cardKey, const QList<QUrl> &files)
{
    setDropping(cardKey, false);
    if (m_active) {
        if (const std::optional<Preset> preset = presetFor(cardKey))
            enqueue(files, *preset);
        return true;
    }
    // A drop that lands here while a web tab is showing belongs to that tab.
    const web::DropRouter &router = web::DropRouter::shared();
    if (router.webTabActive) {
        router.route(files, QPointF(0, 0));
        return true;
    }
    return false;
}

void ConvertView::clearCard(const QString &cardKey)
{
    if (m_runner->runState() != ConvertRunner::RunState::idle)
        return;
    if (const std::optional<Preset> preset = presetFor(cardKey)) {
        for (const QueueItem &item : m_runner->items(preset->id))
            m_runner->remove(item.id);
    }
    m_runner->setStatusLine(QStringLiteral("Cleared."));
}

QCoro::Task<void> ConvertView::refreshScripts()
{
    if (!m_store.session())
        co_return;
    const QString token = m_store.session()->accessToken;
    QPointer<ConvertView> self(this);
    std::optional<service::PresetsPayload> fetched;
    QString failure;
    try {
        QCoro::Task<service::PresetsPayload> fetch = service::APIClient::fetchPresets(token);
        fetched = co_await fetch;
    } catch (const std::exception &error) {
        failure = describe(error);
    }
    if (!self)
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
    m_runner->run(m_store.presets(), *m_ffmpeg, &m_store);
}

void ConvertView::chooseFiles(const QString &cardKey)
{
    auto *dialog = new QFileDialog(this, QStringLiteral("Choose files to convert."));
    dialog->setObjectName(QStringLiteral("chooseFilesDialog"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::ExistingFiles);
    dialog->setNameFilter(mediaFilter());
    connect(dialog, &QFileDialog::filesSelected, this, [this, cardKey](const QStringList &paths) {
        QList<QUrl> urls;
        for (const QString &path : paths)
            urls.append(QUrl::fromLocalFile(path));
        if (const std::optional<Preset> preset = presetFor(cardKey))
            enqueue(urls, *preset);
    });
    dialog->open();
}

void ConvertView::chooseFolder(const QString &cardKey)
{
    auto *dialog = new QFileDialog(
        this, QStringLiteral("Choose a folder \u2014 media files inside it (including subfolders) are queued."));
    dialog->setObjectName(QStringLiteral("chooseFolderDialog"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly);
    connect(dialog, &QFileDialog::filesSelected, this, [this, cardKey](const QStringList &paths) {
        const std::optional<Preset> preset = presetFor(cardKey);
        if (preset && !paths.isEmpty())
            enqueue({QUrl::fromLocalFile(paths.first())}, *preset);
    });
    dialog->open();
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

QString ConvertView::countsText(const QList<QueueItem> &items)
{
    qsizetype done = 0;
    qsizetype failed = 0;
    qsizetype pending = 0;
    for (const QueueItem &item : items) {
        if (!item.succeeded)
            ++pending;
        else if (*item.succeeded)
            ++done;
        else
            ++failed;
    }
    return QString::number(done) + QStringLiteral(" done \u00B7 ") + QString::number(failed)
           + QStringLiteral(" failed \u00B7 ") + QString::number(pending) + QStringLiteral(" pending");
}

QList<PresetCard *> ConvertView::visibleCards() const
{
    QList<PresetCard *> shown;
    for (const QString &key : m_cardOrder) {
        PresetCard *card = m_cards.value(key);
        if (card->preset())
            shown.append(card);
    }
    return shown;
}

QRect ConvertView::queueButtonRect(int row, QueueRowDelegate::Button button) const
{
    const QModelIndex index = m_queueModel->index(row);
    if (!index.isValid())
        return {};
    QStyleOptionViewItem option;
    option.initFrom(m_queueView);
    option.rect = m_queueView->visualRect(index);
    option.widget = m_queueView;
    return m_queueDelegate->buttonRect(option, index, button);
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

void ConvertView::showPresets()
{
    const QList<Preset> &presets = m_store.presets();
    m_cards.value(videoCard)->setPreset(PresetSelection::selectedVideo(presets, m_selectedVideoCodecID),
                                        PresetSelection::videoPresets(presets));
    m_cards.value(audioCard)->setPreset(PresetSelection::m4a(presets));
    m_cards.value(normaliseCard)->setPreset(PresetSelection::selectedLoudness(presets, m_selectedNormaliseID),
                                            PresetSelection::loudnessPresets(presets));
    m_cards.value(videoLoudnessCard)->setPreset(PresetSelection::videoLoudness(presets));
    m_gridColumns = 0; // the set of cards may have changed
    layoutCards();
    m_queueView->viewport()->update(); // preset names
}

void ConvertView::layoutCards()
{
    const QList<PresetCard *> shown = visibleCards();
    // Counted as if the scroll bar were showing, so that its coming and going never changes
    // the number of columns (which would bring it back or take it away again).
    const int available = m_scroll->width() - m_scroll->style()->pixelMetric(QStyle::PM_ScrollBarExtent) - 4;
    int cardWidth = minimumCardWidth;
    for (PresetCard *card : shown)
        cardWidth = std::max(cardWidth, card->minimumSizeHint().width());
    int columns = std::clamp((available + cardSpacing) / (cardWidth + cardSpacing), 1, 4);
    columns = std::max(1, std::min<int>(columns, int(shown.size())));
    if (columns == m_gridColumns)
        return;
    m_gridColumns = columns;
    for (PresetCard *card : std::as_const(m_cards)) {
        m_cardLayout->removeWidget(card);
        card->setVisible(card->preset().has_value());
    }
    for (int column = 0; column < 4; ++column)
        m_cardLayout->setColumnStretch(column, column < columns ? 1 : 0);
    for (int index = 0; index < shown.size(); ++index)
        m_cardLayout->addWidget(shown.at(index), index / columns, index % columns);
    m_cardGrid->setVisible(!shown.isEmpty());
}

bool ConvertView::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_scroll && event->type() == QEvent::Resize)
        layoutCards();
    return QWidget::eventFilter(watched, event);
}

void ConvertView::showConnection()
{
    m_signInHint->setVisible(!m_store.state().isConnected());
}

void ConvertView::showToolbar()
{
    const bool running = m_runner->isRunning();
    const bool stopping = m_runner->runState() == ConvertRunner::RunState::stopping;
    if (m_autoStartSwitch->isChecked() != m_autoStart) {
        const QSignalBlocker quiet(m_autoStartSwitch);
        m_autoStartSwitch->setChecked(m_autoStart);
    }
    m_installButton->setVisible(!m_ffmpeg);
    m_convertButton->setVisible(!m_autoStart);
    m_convertButton->setEnabled(m_ffmpeg && m_runner->hasPending() && !running);
    m_stopButton->setVisible(running);
    m_stopButton->setText(stopping ? QStringLiteral("Stopping\u2026") : QStringLiteral("Stop"));
    m_stopButton->setEnabled(!stopping);
    m_ffmpegCard->setVisible(!m_ffmpeg);
}

void ConvertView::showQueue()
{
    const QList<QueueItem> &items = m_runner->items();
    setText(m_counts, countsText(items));
    m_queueEmpty->setVisible(items.isEmpty());
    m_queueView->setVisible(!items.isEmpty());
}

void ConvertView::fitQueue()
{
    int height = 0;
    const int rows = m_queueModel->rowCount();
    for (int row = 0; row < rows; ++row)
        height += m_queueView->sizeHintForRow(row);
    m_queueView->setFixedHeight(height + 2 * m_queueView->frameWidth());
}

void ConvertView::showStatus()
{
    const QString text = statusText();
    if (m_status->text() != text) {
        m_status->setText(text);
        m_status->setToolTip(text);
    }
    const QString output = outputText();
    if (m_output->text() != output) {
        m_output->setText(output);
        m_output->setToolTip(output);
    }
}

} // namespace vorlik::convert
