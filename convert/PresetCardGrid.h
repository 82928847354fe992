#pragma once
// The Convert page's cards: one PresetCard per card description (video, audio, loudness, video
// loudness, in that order), laid out in as many columns as the width allows (one to four, never
// more than there are cards to show). A card without a preset is left out of the grid; the page
// gives the cards their presets and decides what their drops and buttons do.
#include "convert/PresetCard.h"

#include <QHash>
#include <QList>
#include <QStringList>
#include <QWidget>

class QGridLayout;

namespace vorlik::convert {

class QueueModel;

class PresetCardGrid : public QWidget {
    Q_OBJECT
public:
    static inline const QString videoCard = QStringLiteral("video");
    static inline const QString audioCard = QStringLiteral("audio");
    static inline const QString normaliseCard = QStringLiteral("normalise");
    static inline const QString videoLoudnessCard = QStringLiteral("videoLoudness");

    static const QList<PresetCardDescription> &descriptions();

    // Each card lists the rows of `queue` that belong to its preset.
    explicit PresetCardGrid(QueueModel *queue, QWidget *parent = nullptr);

    PresetCard *card(const QString &key) const { return m_cards.value(key); }
    // Every card, in grid order.
    QList<PresetCard *> cards() const;
    // The cards that have a preset, in grid order.
    QList<PresetCard *> visibleCards() const;

    // Lays the shown cards out for the width; does nothing when the number of columns stays
    // the same, unless the set of cards may have changed (`cardsChanged`).
    void layoutCards(int availableWidth, bool cardsChanged = false);

private:
    QGridLayout *m_layout;
    QHash<QString, PresetCard *> m_cards;
    QStringList m_order;
    int m_columns = 0;
};

} // namespace vorlik::convert
