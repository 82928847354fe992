#pragma once
// The Analysis page's queue: one AnalysisItemCard per runner item, in list order, in a scroll
// area. Cards are kept by item id and updated in place; the card of an item that left the list
// goes with it, and so does its open state.
#include "analysis/AnalysisRunner.h"

#include <QHash>
#include <QList>
#include <QScrollArea>
#include <QSet>
#include <QUuid>

class QVBoxLayout;

namespace vorlik::analysis {

class AnalysisItemCard;

class AnalysisItemList : public QScrollArea {
    Q_OBJECT
public:
    explicit AnalysisItemList(QWidget *parent = nullptr);

    // Shows the items as they are now; `idle` says whether the runner would act on Retry and Clear.
    void showItems(const QList<AnalysisRunner::Item> &items, bool idle);

    // The item being worked on shows how far it has got; every other card shows nothing.
    void showProgress(const std::optional<AnalysisRunner::Progress> &progress);

    void setExpanded(const QUuid &id, bool expanded);
    bool isExpanded(const QUuid &id) const { return m_expanded.contains(id); }
    AnalysisItemCard *itemCard(const QUuid &id) const { return m_cards.value(id); }

signals:
    void toggleRequested(const QUuid &id);
    void retryRequested(const QUuid &id);
    void saveRequested(const QUuid &id);
    void clearRequested(const QUuid &id);

private:
    QWidget *m_box;
    QVBoxLayout *m_layout;
    QSet<QUuid> m_expanded;
    QHash<QUuid, AnalysisItemCard *> m_cards;
    QUuid m_progressItem; // the card that shows a progress now
};

} // namespace vorlik::analysis
