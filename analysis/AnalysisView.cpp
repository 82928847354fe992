#include "analysis/AnalysisView.h"

#include "analysis/AnalysisCard.h"
#include "analysis/AnalysisDropCard.h"
#include "analysis/AnalysisEndpoints.h"
#include "analysis/AnalysisItemCard.h"
#include "analysis/AnalysisItemList.h"
#include "analysis/AnalysisStatusBar.h"
#include "analysis/CardDropTarget.h"
#include "analysis/DropArea.h"
#include "analysis/FileError.h"
#include "analysis/PageHooks.h"
#include "analysis/PageStyle.h"
#include "analysis/ReportFile.h"
#include "analysis/SymbolIcon.h"
#include "platform/Failure.h"
#include "platform/Settings.h"
#include "service/SessionStore.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QSaveFile>
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

    m_dropCard = new AnalysisDropCard;
    connect(m_dropCard, &AnalysisDropCard::clearRequested, this, [this] { m_runner->clear(); });
    connect(m_dropCard, &AnalysisDropCard::chooseFilesRequested, this, &AnalysisView::chooseFiles);
    connect(m_dropCard, &AnalysisDropCard::chooseFolderRequested, this, &AnalysisView::chooseFolder);
    connect(m_dropCard, &AnalysisDropCard::stopRequested, this, [this] { m_runner->cancel(); });
    m_dropTarget = new CardDropTarget(m_dropCard, this);
    m_dropTarget->setActive(m_active);
    m_dropTarget->setOnTargeted([this](bool on) {
        m_isDropping = on;
        dropArea()->setHighlighted(on);
    });
    m_dropTarget->setOnDrop([this](const QList<QUrl> &files) {
        enqueue(files);
        return true;
    });
    layout->addWidget(m_dropTarget);
    layout->addWidget(makeSignInHint());

    m_itemList = new AnalysisItemList(this);
    connect(m_itemList, &AnalysisItemList::toggleRequested, this, &AnalysisView::toggleExpanded);
    connect(m_itemList, &AnalysisItemList::retryRequested, this, &AnalysisView::retry);
    connect(m_itemList, &AnalysisItemList::saveRequested, this, &AnalysisView::saveReport);
    connect(m_itemList, &AnalysisItemList::clearRequested, this, &AnalysisView::removeItem);
    layout->addWidget(m_itemList, 1);
    m_statusBar = new AnalysisStatusBar(this);
    connect(m_statusBar, &AnalysisStatusBar::preferencesRequested, this, &AnalysisView::preferencesRequested);
    layout->addWidget(m_statusBar);

    connect(m_runner, &AnalysisRunner::itemsChanged, this, [this] {
        showItems();
        showStatus();
    });
    connect(m_runner, &AnalysisRunner::statusLineChanged, this, &AnalysisView::showStatus);
    connect(m_runner, &AnalysisRunner::isRunningChanged, this, &AnalysisView::showRunState);
    connect(m_runner, &AnalysisRunner::progressChanged, this,
            [this] { m_itemList->showProgress(m_runner->progress()); });
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

void AnalysisView::setActive(bool active)
{
    if (m_active == active)
        return;
    m_active = active;
    m_dropTarget->setActive(active);
    if (!active && m_isDropping) {
        m_isDropping = false;
        dropArea()->setHighlighted(false);
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
    m_itemList->setExpanded(id, !m_itemList->isExpanded(id));
    showItems();
}

bool AnalysisView::isExpanded(const QUuid &id) const
{
    return m_itemList->isExpanded(id);
}

void AnalysisView::removeItem(const QUuid &id)
{
    for (const AnalysisRunner::Item &candidate : m_runner->items()) {
        if (candidate.id == id) {
            m_runner->remove(candidate);
            break;
        }
    }
}

QList<AnalysisItemCard *> AnalysisView::itemCards() const
{
    QList<AnalysisItemCard *> cards;
    for (const AnalysisRunner::Item &item : m_runner->items()) {
        if (AnalysisItemCard *card = m_itemList->itemCard(item.id))
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
    dialog->selectFile(ReportFile::proposedName(input.fileName()));
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
    // Dark enough for 4.5:1 on the card, as any text.
    case ConnectionState::Case::connected: return QColor(0x1f, 0x7a, 0x3d);
    case ConnectionState::Case::connecting: return QColor(0x9a, 0x5c, 0x00);
    case ConnectionState::Case::failed: return AnalysisCard::failedColor();
    case ConnectionState::Case::disconnected: return QColor(0x6b, 0x6e, 0x76);
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
    m_dropCard->showConnection(connectionText(state), connectionColor(state));
    m_signInHint->setVisible(!state.isConnected());
}

void AnalysisView::showRunState()
{
    m_dropCard->showRunState(m_runner->isRunning(), m_runner->runState() == AnalysisRunner::RunState::running,
                             m_runner->runState() == AnalysisRunner::RunState::idle);
}

void AnalysisView::showStatus()
{
    m_statusBar->showStatus(statusText(), m_runner->analyzedCount());
}

void AnalysisView::showItems()
{
    m_itemList->showItems(m_runner->items(), m_runner->runState() == AnalysisRunner::RunState::idle);
    keepReadingOrder();
}

void AnalysisView::keepReadingOrder()
{
    // A card made after the status bar would join the Tab order after it: Tab goes through the
    // page as it reads, the drop card, the cards in list order, then the status bar.
    const QList<AnalysisItemCard *> cards = itemCards();
    if (cards == m_orderedCards)
        return;
    m_orderedCards = cards;
    QList<QWidget *> order;
    const auto collect = [&order](QWidget *area) {
        for (QWidget *widget : area->findChildren<QWidget *>())
            if ((widget->focusPolicy() & Qt::TabFocus) && !widget->focusProxy())
                order.append(widget);
    };
    collect(m_dropTarget);
    collect(m_signInHint);
    for (AnalysisItemCard *card : cards)
        collect(card);
    collect(m_statusBar);
    for (qsizetype index = 1; index < order.size(); ++index)
        QWidget::setTabOrder(order[index - 1], order[index]);
}

AnalysisItemCard *AnalysisView::itemCard(const QUuid &id) const { return m_itemList->itemCard(id); }
DropArea *AnalysisView::dropArea() const { return m_dropCard->dropArea(); }
QLabel *AnalysisView::connectionLabel() const { return m_dropCard->connectionLabel(); }
QLabel *AnalysisView::statusLabel() const { return m_statusBar->statusLabel(); }
QLabel *AnalysisView::counterLabel() const { return m_statusBar->counterLabel(); }
QProgressBar *AnalysisView::busyIndicator() const { return m_dropCard->busyIndicator(); }
QPushButton *AnalysisView::clearButton() const { return m_dropCard->clearButton(); }
QPushButton *AnalysisView::stopButton() const { return m_dropCard->stopButton(); }
QPushButton *AnalysisView::chooseFilesButton() const { return m_dropCard->chooseFilesButton(); }
QPushButton *AnalysisView::chooseFolderButton() const { return m_dropCard->chooseFolderButton(); }
QPushButton *AnalysisView::preferencesButton() const { return m_statusBar->preferencesButton(); }

} // namespace vorlik::analysis
