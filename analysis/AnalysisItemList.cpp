#include "analysis/AnalysisItemList.h"

#include "analysis/AnalysisItemCard.h"

#include <QVBoxLayout>

namespace vorlik::analysis {

AnalysisItemList::AnalysisItemList(QWidget *parent) : QScrollArea(parent)
{
    m_box = new QWidget;
    m_box->setObjectName(QStringLiteral("analysisItems"));
    m_layout = new QVBoxLayout(m_box);
    m_layout->setContentsMargins(0, 0, 4, 0);
    m_layout->setSpacing(8);
    m_layout->addStretch(1);
    setWidget(m_box);
    setWidgetResizable(true);
    setFrameShape(QFrame::NoFrame);
    // No Tab stop of its own, where the focus would show no mark: Tab goes through the
    // cards' controls, and the area scrolls to the one that has the focus.
    setFocusPolicy(Qt::NoFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    viewport()->setAutoFillBackground(false);
    m_box->setAutoFillBackground(false);
}

void AnalysisItemList::setExpanded(const QUuid &id, bool expanded)
{
    if (expanded)
        m_expanded.insert(id);
    else
        m_expanded.remove(id);
}

void AnalysisItemList::showProgress(const std::optional<AnalysisRunner::Progress> &progress)
{
    const QUuid item = progress ? progress->item : QUuid();
    if (item != m_progressItem) {
        if (AnalysisItemCard *card = m_cards.value(m_progressItem))
            card->setProgress(std::nullopt);
        m_progressItem = item;
    }
    if (AnalysisItemCard *card = m_cards.value(item))
        card->setProgress(progress);
}

void AnalysisItemList::showItems(const QList<AnalysisRunner::Item> &items, bool idle)
{
    QSet<QUuid> present;
    present.reserve(items.size());
    for (qsizetype index = 0; index < items.size(); ++index) {
        const AnalysisRunner::Item &item = items.at(index);
        present.insert(item.id);
        AnalysisItemCard *card = m_cards.value(item.id);
        if (!card) {
            card = new AnalysisItemCard(item, m_box);
            const QUuid id = item.id;
            connect(card, &AnalysisItemCard::toggled, this, [this, id] { emit toggleRequested(id); });
            connect(card, &AnalysisItemCard::retryRequested, this, [this, id] { emit retryRequested(id); });
            connect(card, &AnalysisItemCard::saveRequested, this, [this, id] { emit saveRequested(id); });
            connect(card, &AnalysisItemCard::clearRequested, this, [this, id] { emit clearRequested(id); });
            m_cards.insert(item.id, card);
        }
        if (m_layout->indexOf(card) != index) {
            m_layout->removeWidget(card);
            m_layout->insertWidget(int(index), card);
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
        m_layout->removeWidget(it.value());
        it = m_cards.erase(it);
    }
}

} // namespace vorlik::analysis
