#include "convert/QueueModel.h"

#include "convert/ConvertRunner.h"
#include "convert/PresetSelection.h"
#include "service/SessionStore.h"

#include <QColor>
#include <QFileInfo>
#include <QSet>

namespace vorlik::convert {

QueueModel::QueueModel(ConvertRunner &runner, service::SessionStore &store, QObject *parent)
    : QAbstractListModel(parent), m_runner(runner), m_store(store), m_items(runner.items())
{
    connect(&runner, &ConvertRunner::itemsChanged, this, &QueueModel::follow);
    connect(&runner, &ConvertRunner::progressChanged, this, &QueueModel::followProgress);
    connect(&store, &service::SessionStore::presetsChanged, this, [this] {
        if (!m_items.isEmpty())
            emit dataChanged(index(0), index(int(m_items.size()) - 1), {PresetNameRole});
    });
}

int QueueModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_items.size());
}

QString QueueModel::detail(const QueueItem &item)
{
    if (item.succeeded == false)
        return item.errorDetail.value_or(QString());
    if (item.succeeded == true)
        return item.note.value_or(QString());
    return {};
}

QVariant QueueModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_items.size())
        return {};
    const QueueItem &item = m_items.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return QFileInfo(item.input).fileName() + QStringLiteral("  \u2014  ") + item.status;
    case Qt::AccessibleTextRole:
        return QFileInfo(item.input).fileName() + QStringLiteral(", ") + item.status;
    case Qt::AccessibleDescriptionRole: {
        // What a screen reader says after the name: the failure or note, then the actions.
        QStringList actions;
        if (item.succeeded == false)
            actions.append(QStringLiteral("Retry"));
        if (item.output && !item.output->isEmpty())
            actions.append(QStringLiteral("Reveal"));
        actions.append(QStringLiteral("Remove"));
        const QString said = detail(item);
        return (said.isEmpty() ? QString() : said + QStringLiteral(". ")) + QStringLiteral("Actions: ")
               + actions.join(QStringLiteral(", "));
    }
    case Qt::ToolTipRole: {
        // The row's keys: Return acts only on a finished row.
        QString keys;
        if (item.succeeded == false)
            keys = QStringLiteral("Return retries, Delete removes");
        else if (item.output && !item.output->isEmpty())
            keys = QStringLiteral("Return reveals, Delete removes");
        else
            keys = QStringLiteral("Return does nothing until it is converted, Delete removes");
        return (detail(item).isEmpty() ? item.input : detail(item)) + u'\n' + keys;
    }
    case Qt::ForegroundRole:
        if (item.succeeded == true)
            return doneColor();
        if (item.succeeded == false)
            return failedColor();
        return {};
    case NameRole:
        return QFileInfo(item.input).fileName();
    case PresetIDRole:
        return item.presetID;
    case PresetNameRole:
        return PresetSelection::displayName(m_store.presets(), item.presetID);
    case StatusRole:
        return item.status;
    case ErrorDetailRole:
        return item.errorDetail.value_or(QString());
    case DetailRole:
        return detail(item);
    case StateRole:
        return item.succeeded ? (*item.succeeded ? 1 : 0) : -1;
    case OutputRole:
        return item.output.value_or(QString());
    case IdRole:
        return item.id;
    case ProgressRole:
        if (const std::optional<ConversionProgress> progress = m_runner.progress(item.id))
            return progress->fraction.value_or(-1.0);
        return {};
    case ProgressTextRole:
        if (const std::optional<ConversionProgress> progress = m_runner.progress(item.id))
            return progress->text(ConversionProgress::Clock::now());
        return {};
    default:
        return {};
    }
}

void QueueModel::followProgress(const QUuid &id)
{
    for (qsizetype row = 0; row < m_items.size(); ++row) {
        if (m_items.at(row).id != id)
            continue;
        emit dataChanged(index(int(row)), index(int(row)), {ProgressRole, ProgressTextRole});
        // A row grows a line for its bar while it converts, and loses it after.
        const bool shown = m_runner.progress(id).has_value();
        if (shown != m_withProgress.contains(id)) {
            if (shown)
                m_withProgress.insert(id);
            else
                m_withProgress.remove(id);
            emit rowHeightsChanged();
        }
        return;
    }
}

void QueueModel::follow()
{
    const QList<QueueItem> &next = m_runner.items();

    // Removed rows: the new queue is the old one with some items left out, in the same order.
    if (next.size() < m_items.size()) {
        QSet<QUuid> kept;
        kept.reserve(next.size());
        for (const QueueItem &item : next)
            kept.insert(item.id);
        qsizetype matched = 0;
        for (const QueueItem &item : m_items) {
            if (kept.contains(item.id)) {
                if (matched >= next.size() || next.at(matched).id != item.id)
                    break;
                ++matched;
            }
        }
        if (matched != next.size()) {
            beginResetModel();
            m_items = next;
            endResetModel();
            emit rowHeightsChanged();
            return;
        }
        for (int row = int(m_items.size()) - 1; row >= 0;) {
            if (kept.contains(m_items.at(row).id)) {
                --row;
                continue;
            }
            int first = row;
            while (first > 0 && !kept.contains(m_items.at(first - 1).id))
                --first;
            beginRemoveRows({}, first, row);
            m_items.remove(first, row - first + 1);
            endRemoveRows();
            row = first - 1;
        }
        updateInPlace(next);
        return;
    }

    // The same rows, perhaps with new ones at the end.
    for (qsizetype row = 0; row < m_items.size(); ++row) {
        if (m_items.at(row).id != next.at(row).id) {
            beginResetModel();
            m_items = next;
            endResetModel();
            emit rowHeightsChanged();
            return;
        }
    }
    updateInPlace(next);
    if (next.size() > m_items.size()) {
        beginInsertRows({}, int(m_items.size()), int(next.size()) - 1);
        m_items.append(next.mid(m_items.size()));
        endInsertRows();
    }
}

void QueueModel::updateInPlace(const QList<QueueItem> &next)
{
    bool heightsChanged = false;
    int firstChanged = -1;
    int lastChanged = -1;
    for (int row = 0; row < m_items.size(); ++row) {
        const QueueItem &now = next.at(row);
        if (m_items.at(row) == now)
            continue;
        heightsChanged = heightsChanged || detail(m_items.at(row)).isEmpty() != detail(now).isEmpty();
        m_items[row] = now;
        if (firstChanged < 0)
            firstChanged = row;
        lastChanged = row;
    }
    if (firstChanged >= 0)
        emit dataChanged(index(firstChanged), index(lastChanged));
    if (heightsChanged)
        emit rowHeightsChanged();
}

} // namespace vorlik::convert
