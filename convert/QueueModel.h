#pragma once
// The convert runner's queue as a list model for the page's views. It follows the runner's
// itemsChanged by difference (rows appended, removed or changed in place), so a long queue
// whose items change one at a time costs the views one row each, not a rebuild.
#include "convert/QueueItem.h"
#include "service/Preset.h"

#include <QAbstractListModel>
#include <QColor>
#include <QList>
#include <QSet>
#include <QUuid>

namespace vorlik::service {
class SessionStore;
}

namespace vorlik::convert {

class ConvertRunner;

class QueueModel : public QAbstractListModel {
    Q_OBJECT
public:
    enum Role {
        NameRole = Qt::UserRole + 1, // the source file's name
        PresetIDRole,
        PresetNameRole, // the preset's name in the current list, else its id
        StatusRole,
        ErrorDetailRole, // shown under a failed item
        StateRole,       // -1 pending, 0 failed, 1 done
        OutputRole,      // the output file after success, else empty
        IdRole,
        DetailRole, // the line under a row: a failed item's error, a done item's note
        // While an item is converted: how far (0..1, or -1 while its length is unknown; none
        // otherwise) and the text beside the bar.
        ProgressRole,
        ProgressTextRole,
    };

    QueueModel(ConvertRunner &runner, service::SessionStore &store, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    // Qt::DisplayRole is the short line of the cards: name and status.
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    const QueueItem &item(int row) const { return m_items.at(row); }
    ConvertRunner &runner() const { return m_runner; }

    // The line under a row, empty for none (its height depends on it).
    static QString detail(const QueueItem &item);
    // The text colours of a done and a failed row: 4.5:1 at least on the list's rows.
    static QColor doneColor() { return QColor(0x1f, 0x7a, 0x3d); }
    static QColor failedColor() { return QColor(0xb4, 0x2a, 0x2a); }

signals:
    // Some row gained or lost its detail line.
    void rowHeightsChanged();

private:
    void follow();
    void followProgress(const QUuid &id);
    void updateInPlace(const QList<QueueItem> &next);

    ConvertRunner &m_runner;
    service::SessionStore &m_store;
    QList<QueueItem> m_items;
    QSet<QUuid> m_withProgress; // rows that show a progress line
};

} // namespace vorlik::convert
