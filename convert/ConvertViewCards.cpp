// The Convert page's cards: which preset each card uses, and what a drop, a chosen file or
// folder, a picker's choice and the card's Clear do.
#include "convert/ConvertView.h"

#include "analysis/CardDropTarget.h"
#include "analysis/DropArea.h"
#include "convert/MediaScanner.h"
#include "convert/PresetSelection.h"
#include "convert/QueueModel.h"
#include "service/SessionStore.h"
#include "web/DropRouter.h"

#include <QFileDialog>
#include <QListView>
#include <QScrollArea>
#include <QStyle>

namespace vorlik::convert {
namespace {

using service::Preset;

QString mediaFilter()
{
    QStringList patterns;
    for (const QString &extension : MediaScanner::mediaExtensions())
        patterns << QStringLiteral("*.") + extension;
    patterns.sort();
    return QStringLiteral("Audio and video (") + patterns.join(u' ') + u')';
}

} // namespace

void ConvertView::wireCard(PresetCard *card)
{
    const QString key = card->key();
    card->dropTarget()->setOnTargeted([this, key](bool on) { setDropping(key, on); });
    card->dropTarget()->setOnDrop([this, key](const QList<QUrl> &files) { return dropOnCard(key, files); });
    connect(card, &PresetCard::chooseFilesRequested, this, [this, key] { chooseFiles(key); });
    connect(card, &PresetCard::chooseFolderRequested, this, [this, key] { chooseFolder(key); });
    connect(card, &PresetCard::clearRequested, this, [this, key] { clearCard(key); });
    if (key == videoCard)
        connect(card, &PresetCard::presetChosen, this, &ConvertView::chooseVideoCodec);
    else if (key == normaliseCard)
        connect(card, &PresetCard::presetChosen, this, &ConvertView::chooseNormaliseTarget);
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

void ConvertView::setDropping(const QString &cardKey, bool dropping)
{
    m_isDropping[cardKey] = dropping;
    if (PresetCard *card = m_cardGrid->card(cardKey))
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

void ConvertView::showPresets()
{
    const QList<Preset> &presets = m_store.presets();
    card(videoCard)->setPreset(PresetSelection::selectedVideo(presets, m_selectedVideoCodecID),
                               PresetSelection::videoPresets(presets));
    card(audioCard)->setPreset(PresetSelection::m4a(presets));
    card(normaliseCard)->setPreset(PresetSelection::selectedLoudness(presets, m_selectedNormaliseID),
                                   PresetSelection::loudnessPresets(presets));
    card(videoLoudnessCard)->setPreset(PresetSelection::videoLoudness(presets));
    layoutCards(true); // the set of cards may have changed
    queueView()->viewport()->update(); // preset names
}

void ConvertView::layoutCards(bool cardsChanged)
{
    // Counted as if the scroll bar were showing, so that its coming and going never changes
    // the number of columns (which would bring it back or take it away again).
    const int available = m_scroll->width() - m_scroll->style()->pixelMetric(QStyle::PM_ScrollBarExtent) - 4;
    m_cardGrid->layoutCards(available, cardsChanged);
}

bool ConvertView::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_scroll && event->type() == QEvent::Resize)
        layoutCards();
    return QWidget::eventFilter(watched, event);
}

} // namespace vorlik::convert
