#include "convert/PresetCardGrid.h"

#include "convert/QueueModel.h"

#include <QGridLayout>

#include <algorithm>

namespace vorlik::convert {
namespace {

constexpr int minimumCardWidth = 240;
constexpr int cardSpacing = 12;

} // namespace

const QList<PresetCardDescription> &PresetCardGrid::descriptions()
{
    static const QList<PresetCardDescription> cards{
        {videoCard, QStringLiteral("film"), QStringLiteral("VIDEO"), QStringLiteral("Drag and drop video files here"),
         QStringLiteral("applied to every video"),
         QStringLiteral("mp4 \u00B7 mov \u00B7 m4v \u00B7 mkv \u00B7 avi \u00B7 webm"), QStringLiteral("CODEC")},
        {audioCard, QStringLiteral("headphones"), QStringLiteral("AUDIO \u2192 M4A"),
         QStringLiteral("Drag and drop M4A files or folders here"), QString(),
         QStringLiteral("m4a \u00B7 converted locally"), QString()},
        {normaliseCard, QStringLiteral("waveform"), QStringLiteral("Normalize to LUFS"),
         QStringLiteral("Drag and drop WAV files here"), QStringLiteral("always with a \u22121 dBTP limiter"),
         QStringLiteral("wav \u00B7 normalized locally"), QStringLiteral("TARGET")},
        {videoLoudnessCard, QStringLiteral("film.stack"), QStringLiteral("Video Normalize \u221214 LKFS"),
         QStringLiteral("Drag and drop video files here"), QString(),
         QStringLiteral("audio normalised \u00B7 video passthrough"), QString()},
    };
    return cards;
}

PresetCardGrid::PresetCardGrid(QueueModel *queue, QWidget *parent) : QWidget(parent)
{
    m_layout = new QGridLayout(this);
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->setSpacing(cardSpacing);
    for (const PresetCardDescription &description : descriptions()) {
        m_cards.insert(description.key, new PresetCard(description, queue, this));
        m_order.append(description.key);
    }
}

QList<PresetCard *> PresetCardGrid::cards() const
{
    QList<PresetCard *> all;
    for (const QString &key : m_order)
        all.append(m_cards.value(key));
    return all;
}

QList<PresetCard *> PresetCardGrid::visibleCards() const
{
    QList<PresetCard *> shown;
    for (const QString &key : m_order) {
        PresetCard *card = m_cards.value(key);
        if (card->preset())
            shown.append(card);
    }
    return shown;
}

void PresetCardGrid::layoutCards(int availableWidth, bool cardsChanged)
{
    if (cardsChanged)
        m_columns = 0;
    const QList<PresetCard *> shown = visibleCards();
    int cardWidth = minimumCardWidth;
    for (PresetCard *card : shown)
        cardWidth = std::max(cardWidth, card->minimumSizeHint().width());
    int columns = std::clamp((availableWidth + cardSpacing) / (cardWidth + cardSpacing), 1, 4);
    columns = std::max(1, std::min<int>(columns, int(shown.size())));
    if (columns == m_columns)
        return;
    m_columns = columns;
    for (PresetCard *card : std::as_const(m_cards)) {
        m_layout->removeWidget(card);
        card->setVisible(card->preset().has_value());
    }
    for (int column = 0; column < 4; ++column)
        m_layout->setColumnStretch(column, column < columns ? 1 : 0);
    for (int index = 0; index < shown.size(); ++index)
        m_layout->addWidget(shown.at(index), index / columns, index % columns);
    setVisible(!shown.isEmpty());
}

} // namespace vorlik::convert
