#include "analysis/AnalysisView.h"

#include "analysis/AnalysisCard.h"
#include "analysis/AnalysisEndpoints.h"
#include "analysis/AnalysisItemCard.h"
#include "analysis/CardDropTarget.h"
#include "analysis/DropArea.h"
#include "analysis/FileError.h"
#include "analysis/PageHooks.h"
#include "analysis/PageStyle.h"
#include "analysis/SymbolIcon.h"
#include "platform/BuildInfo.h"
#include "platform/Failure.h"
#include "platform/Settings.h"
#include "service/SessionStore.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollArea>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace vorlik::analysis {
namespace {

using style::secondaryText;
using style::setTextColor;

using service::ConnectionState;

QList<QUrl> fileURLs(const QStringList &paths)
{
    QList<QUrl> urls;
    for (const QString &path : paths)
        urls.append(QUrl::fromLocalFile(path));
    return urls;
}

QLabel *symbolLabel(const QString &symbol, int size, const QColor &color, QWidget *parent)
{
    auto *label = new QLabel(parent);
    label->setPixmap(SymbolIcon::pixmap(symbol, size, color));
    label->setFixedSize(size, size);
    return label;
}

} // namespace

AnalysisView::AnalysisView(service::SessionStore &store, QWidget *parent)
    : AnalysisView(store, platform::Settings::standard(), parent)
{
}

AnalysisView::AnalysisView(service::SessionStore &store, platform::Settings &settings, QWidget *parent)
    : QWidget(parent), m_store(store), m_settings(settings), m_runner(new AnalysisRunner(this))
{
    setObjectName(QStringLiteral("analysisView"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(18, 16, 18, 10);
    layout->setSpacing(12);

    m_dropTarget = new CardDropTarget(makeDropCard(), this);
    m_dropTarget->setActive(m_active);
    m_dropTarget->setOnTargeted([this](bool on) {
        m_isDropping = on;
        m_dropArea->setHighlighted(on);
    });
    m_dropTarget->setOnDrop([this](const QList<QUrl> &files) {
        enqueue(files);
        return true;
    });
    layout->addWidget(m_dropTarget);
    layout->addWidget(makeSignInHint());

    m_itemsBox = new QWidget;
    m_itemsBox->setObjectName(QStringLiteral("analysisItems"));
    m_itemsLayout = new QVBoxLayout(m_itemsBox);
    m_itemsLayout->setContentsMargins(0, 0, 4, 0);
    m_itemsLayout->setSpacing(8);
    m_itemsLayout->addStretch(1);
    m_scroll = new QScrollArea(this);
    m_scroll->setWidget(m_itemsBox);
    m_scroll->setWidgetResizable(true);
    m_scroll->setFrameShape(QFrame::NoFrame);
    // No Tab stop of its own, where the focus would show no mark: Tab goes through the
    // controls, and the area scrolls to the one that has the focus.
    m_scroll->setFocusPolicy(Qt::NoFocus);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->viewport()->setAutoFillBackground(false);
    m_itemsBox->setAutoFillBackground(false);
    layout->addWidget(m_scroll, 1);
    layout->addWidget(makeStatusBar());

    connect(m_runner, &AnalysisRunner::itemsChanged, this, [this] {
        showItems();
        showStatus();
    });
    connect(m_runner, &AnalysisRunner::statusLineChanged, this, &AnalysisView::showStatus);
    connect(m_runner, &AnalysisRunner::isRunningChanged, this, &AnalysisView::showRunState);
    connect(m_runner, &AnalysisRunner::runStateChanged, this, [this] {
        showRunState();
        showItems();
    });
    connect(&m_store, &service::SessionStore::stateChanged, this, [this] {
        showConnection();
        showStatus();
    });

    showConnection();
    showRunState();
    showItems();
    showStatus();
    m_dropTarget->remeasure();
    // The start-up hooks run once the window around the page is built.
    QTimer::singleShot(0, this, &AnalysisView::appear);
}

AnalysisView::~AnalysisView() = default;

QWidget *AnalysisView::makeDropCard()
{
    auto *card = new AnalysisCard;
    card->setObjectName(QStringLiteral("analysisDropCard"));

    auto *title = new QLabel(QStringLiteral("AUDIO ANALYSIS"), card);
    QFont titleFont = title->font();
    titleFont.setWeight(QFont::Bold);
    titleFont.setLetterSpacing(QFont::AbsoluteSpacing, 0.6);
    title->setFont(titleFont);
    m_busy = new QProgressBar(card);
    m_busy->setRange(0, 0);
    m_busy->setTextVisible(false);
    m_busy->setFixedSize(70, 6);
    m_connection = new QLabel(card);
    m_connection->setObjectName(QStringLiteral("connectionLabel"));
    m_clear = new QPushButton(QStringLiteral("Clear"), card);
    connect(m_clear, &QPushButton::clicked, this, [this] { m_runner->clear(); });

    auto *header = new QHBoxLayout;
    header->setSpacing(8);
    header->addWidget(symbolLabel(QStringLiteral("waveform"), 18, QColor(0x4a, 0x4d, 0x55), card));
    header->addWidget(title);
    header->addWidget(m_busy);
    header->addStretch(1);
    header->addWidget(m_connection);
    header->addWidget(m_clear);

    m_dropArea = new DropArea(QStringLiteral("Drag and drop audio files here"),
                              QStringLiteral("wav \u00B7 aiff \u00B7 flac \u00B7 mp3 \u00B7 m4a \u00B7 aac \u00B7 ogg "
                                             "\u00B7 opus \u00B7 wma \u00B7 caf \u00B7 w64 \u00B7 amb"),
                              card);

    m_chooseFiles = new QPushButton(QStringLiteral("Choose Files"), card);
    m_chooseFolder = new QPushButton(QStringLiteral("Choose Folder"), card);
    m_stop = new QPushButton(QStringLiteral("Stop"), card);
    connect(m_chooseFiles, &QPushButton::clicked, this, &AnalysisView::chooseFiles);
    connect(m_chooseFolder, &QPushButton::clicked, this, &AnalysisView::chooseFolder);
    connect(m_stop, &QPushButton::clicked, this, [this] { m_runner->cancel(); });
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_chooseFiles);
    buttons->addWidget(m_chooseFolder);
    buttons->addWidget(m_stop);
    buttons->addStretch(1);

    auto *layout = new QVBoxLayout(card);
    layout->setContentsMargins(16, 12, 16, 14);
    layout->setSpacing(10);
    layout->addLayout(header);
    layout->addWidget(m_dropArea, 1);
    layout->addLayout(buttons);
    return card;
}

QWidget *AnalysisView::makeSignInHint()
{
    m_signInHint = new QWidget(this);
    m_signInHint->setObjectName(QStringLiteral("signInHint"));
    auto *text = new QLabel(
        QStringLiteral("Sign in with your client key from the top-right connection menu to analyse audio files."),
        m_signInHint);
    text->setWordWrap(true);
    setTextColor(text, secondaryText);
    auto *layout = new QHBoxLayout(m_signInHint);
    layout->setContentsMargins(4, 0, 4, 0);
    layout->setSpacing(8);
    layout->addWidget(symbolLabel(QStringLiteral("person.crop.circle.badge.questionmark"), 20, secondaryText, m_signInHint));
    layout->addWidget(text, 1);
    return m_signInHint;
}

QWidget *AnalysisView::makeStatusBar()
{
    auto *bar = new QWidget(this);
    bar->setObjectName(QStringLiteral("statusBar"));
    m_status = new QLabel(bar);
    m_status->setObjectName(QStringLiteral("statusLine"));
    m_status->setTextFormat(Qt::PlainText);
    m_status->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_counter = new QLabel(bar);
    m_counter->setObjectName(QStringLiteral("analysedCounter"));
    setTextColor(m_counter, secondaryText);
    m_preferences = new QPushButton(QStringLiteral("Preferences"), bar);
    connect(m_preferences, &QPushButton::clicked, this, &AnalysisView::preferencesRequested);
    auto *app = new QLabel(platform::appName() + u' ' + platform::appVersion(), bar);
    app->setObjectName(QStringLiteral("appLabel"));
    setTextColor(app, secondaryText);

    auto *layout = new QHBoxLayout(bar);
    layout->setContentsMargins(2, 0, 2, 0);
    layout->setSpacing(12);
    layout->addWidget(m_status, 1);
    layout->addWidget(m_counter);
    layout->addWidget(m_preferences);
    layout->addWidget(app);
    return bar;
}

void AnalysisView::setActive(bool active)
{
    if (m_active == active)
        return;
    m_active = active;
    m_dropTarget->setActive(active);
    if (!active && m_isDropping) {
        m_isDropping = false;
        m_dropArea->setHighlighted(false);
    }
    emit activeChanged(active);
}

void AnalysisView::appear()
{
    PageHooks::connectKey(m_store, m_settings);
    if (const std::optional<QList<QUrl>> files = PageHooks::fileList(m_settings, QStringLiteral("autoAnalyze"))) {
        QPointer<AnalysisView> self(this);
        PageHooks::whenReady(
            this, [self] { return self && self->m_store.state().isConnected(); },
            [self, urls = *files] {
                if (self)
                    self->enqueue(urls);
            });
    }
}

void AnalysisView::enqueue(const QList<QUrl> &urls)
{
    m_runner->queue(urls);
    startRunIfReady(true);
}

void AnalysisView::retry(const QUuid &id)
{
    for (const AnalysisRunner::Item &item : m_runner->items()) {
        if (item.id == id) {
            m_runner->retry(item);
            break;
        }
    }
    startRunIfReady(false);
}

void AnalysisView::startRunIfReady(bool requirePending)
{
    if (!m_store.state().isConnected() || m_runner->isRunning())
        return;
    if (requirePending && !m_runner->hasPending())
        return;
    m_runner->run(m_store);
}

void AnalysisView::toggleExpanded(const QUuid &id)
{
    if (!m_expanded.remove(id))
        m_expanded.insert(id);
    showItems();
}

QList<AnalysisItemCard *> AnalysisView::itemCards() const
{
    QList<AnalysisItemCard *> cards;
    for (const AnalysisRunner::Item &item : m_runner->items()) {
        if (AnalysisItemCard *card = m_cards.value(item.id))
            cards.append(card);
    }
    return cards;
}

void AnalysisView::chooseFiles()
{
    auto *dialog = new QFileDialog(this, QStringLiteral("Choose audio files to analyse on the Vorlik VPS."));
    dialog->setObjectName(QStringLiteral("chooseFilesDialog"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::ExistingFiles);
    dialog->setNameFilters({QStringLiteral("Audio (*.wav *.aif *.aiff *.flac *.mp3 *.m4a *.aac *.ogg *.oga *.opus "
                                           "*.wma *.caf *.au *.mp2 *.ac3 *.w64 *.amb *.m4r)"),
                            QStringLiteral("All files (*)")});
    connect(dialog, &QFileDialog::filesSelected, this, [this](const QStringList &paths) { enqueue(fileURLs(paths)); });
    dialog->open();
}

void AnalysisView::chooseFolder()
{
    auto *dialog =
        new QFileDialog(this, QStringLiteral("Choose a folder \u2014 audio files inside it (including subfolders) are queued."));
    dialog->setObjectName(QStringLiteral("chooseFolderDialog"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly);
    connect(dialog, &QFileDialog::filesSelected, this, [this](const QStringList &paths) {
        if (!paths.isEmpty())
            enqueue({QUrl::fromLocalFile(paths.first())});
    });
    dialog->open();
}

void AnalysisView::saveReport(const QUuid &id)
{
    const auto &items = m_runner->items();
    const auto item = std::find_if(items.cbegin(), items.cend(), [&](const AnalysisRunner::Item &i) { return i.id == id; });
    if (item == items.cend() || !item->jobID)
        return;
    const QFileInfo input(item->input.toLocalFile());
    auto *dialog = new QFileDialog(this, QStringLiteral("Save the analysis report."));
    dialog->setObjectName(QStringLiteral("saveReportDialog"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setNameFilter(QStringLiteral("Plain text (*.txt)"));
    dialog->setDefaultSuffix(QStringLiteral("txt"));
    dialog->setLabelText(QFileDialog::Accept, QStringLiteral("Save"));
    dialog->setDirectory(input.absolutePath());
    dialog->selectFile(input.completeBaseName() + QStringLiteral("_report.txt"));
    connect(dialog, &QFileDialog::fileSelected, this, [this, id](const QString &path) { saveReportTo(id, path); });
    dialog->open();
}

QCoro::Task<void> AnalysisView::saveReportTo(QUuid id, QString path)
{
    QPointer<AnalysisView> self(this);
    QString failure;
    try {
        std::optional<QString> jobID;
        for (const AnalysisRunner::Item &item : m_runner->items()) {
            if (item.id == id)
                jobID = item.jobID;
        }
        if (!jobID)
            throw Failure(QStringLiteral("The item has no finished job."));
        if (!m_store.session())
            throw Failure(QStringLiteral("Connect with your client key first."));
        const QString bearer = m_store.session()->accessToken;
        QCoro::Task<QByteArray> download = AnalysisEndpoints::downloadReport(*jobID, bearer);
        const QByteArray report = co_await download;

        // Written beside the chosen file and moved over it at the end: a failure leaves any
        // earlier file of that name as it was.
        const QString name = QFileInfo(path).fileName();
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            throw FileError(FileError::Operation::create, name, file);
        if (file.write(report) != report.size())
            throw FileError(FileError::Operation::write, name, file);
        if (!file.commit())
            throw FileError(FileError::Operation::write, name, file);
    } catch (const std::exception &error) {
        failure = describe(error);
    }
    if (!self)
        co_return;
    m_runner->setStatusLine(failure.isEmpty() ? QStringLiteral("Report saved \u2192 ") + QFileInfo(path).fileName()
                                              : QStringLiteral("Could not save report: ") + failure);
}

QString AnalysisView::connectionText(const ConnectionState &state)
{
    switch (state.kind) {
    case ConnectionState::Case::connected: return QStringLiteral("Connected");
    case ConnectionState::Case::connecting: return QStringLiteral("Connecting\u2026");
    case ConnectionState::Case::failed: return QStringLiteral("Sign-in failed");
    case ConnectionState::Case::disconnected: return QStringLiteral("Offline");
    }
    return {};
}

QColor AnalysisView::connectionColor(const ConnectionState &state)
{
    switch (state.kind) {
    case ConnectionState::Case::connected: return QColor(0x2e, 0x9d, 0x4f);
    case ConnectionState::Case::connecting: return QColor(0xc2, 0x7c, 0x0e);
    case ConnectionState::Case::failed: return QColor(0xd7, 0x3a, 0x3a);
    case ConnectionState::Case::disconnected: return QColor(0x8a, 0x8d, 0x93);
    }
    return {};
}

QString AnalysisView::statusText() const
{
    if (!m_runner->statusLine().isEmpty())
        return m_runner->statusLine();
    return m_store.state().isConnected() ? QStringLiteral("Drop audio files to analyse them on the VPS.")
                                         : QStringLiteral("Sign in from the top-right connection menu to start.");
}

void AnalysisView::showConnection()
{
    const ConnectionState &state = m_store.state();
    m_connection->setText(QStringLiteral("\u25CF ") + connectionText(state));
    setTextColor(m_connection, connectionColor(state));
    m_signInHint->setVisible(!state.isConnected());
}

void AnalysisView::showRunState()
{
    const bool running = m_runner->isRunning();
    m_busy->setVisible(running);
    m_stop->setEnabled(m_runner->runState() == AnalysisRunner::RunState::running);
    m_clear->setEnabled(m_runner->runState() == AnalysisRunner::RunState::idle);
}

void AnalysisView::showStatus()
{
    const QString text = statusText();
    if (m_status->text() != text) {
        m_status->setText(text);
        m_status->setToolTip(text);
    }
    m_counter->setText(QStringLiteral("Files analysed this session: ") + QString::number(m_runner->analyzedCount()));
}

void AnalysisView::showItems()
{
    const QList<AnalysisRunner::Item> &items = m_runner->items();
    const bool idle = m_runner->runState() == AnalysisRunner::RunState::idle;
    QSet<QUuid> present;
    present.reserve(items.size());
    for (qsizetype index = 0; index < items.size(); ++index) {
        const AnalysisRunner::Item &item = items.at(index);
        present.insert(item.id);
        AnalysisItemCard *card = m_cards.value(item.id);
        if (!card) {
            card = new AnalysisItemCard(item, m_itemsBox);
            const QUuid id = item.id;
            connect(card, &AnalysisItemCard::toggled, this, [this, id] { toggleExpanded(id); });
            connect(card, &AnalysisItemCard::retryRequested, this, [this, id] { retry(id); });
            connect(card, &AnalysisItemCard::saveRequested, this, [this, id] { saveReport(id); });
            connect(card, &AnalysisItemCard::clearRequested, this, [this, id] {
                for (const AnalysisRunner::Item &candidate : m_runner->items()) {
                    if (candidate.id == id) {
                        m_runner->remove(candidate);
                        break;
                    }
                }
            });
            m_cards.insert(item.id, card);
        }
        if (m_itemsLayout->indexOf(card) != index) {
            m_itemsLayout->removeWidget(card);
            m_itemsLayout->insertWidget(int(index), card);
        }
        card->setItem(item, m_expanded.contains(item.id), idle);
    }
    for (auto it = m_cards.begin(); it != m_cards.end();) {
        if (present.contains(it.key())) {
            ++it;
            continue;
        }
        m_expanded.remove(it.key());
        it.value()->hide();
        it.value()->deleteLater();
        m_itemsLayout->removeWidget(it.value());
        it = m_cards.erase(it);
    }
}

} // namespace vorlik::analysis
