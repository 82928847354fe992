#include "convert/QueueRowAccess.h"

#include "convert/QueueModel.h"
#include "convert/QueueRowKeys.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QHash>
#include <QListView>
#include <QPointer>

namespace vorlik::convert {
namespace {

QModelIndex rowOf(const QListView *view, const QUuid &id)
{
    if (!view || !view->model())
        return {};
    const QAbstractItemModel *model = view->model();
    for (int row = 0; row < model->rowCount(); ++row) {
        const QModelIndex index = model->index(row, 0);
        if (index.data(QueueModel::IdRole).toUuid() == id)
            return index;
    }
    return {};
}

// One row, known by its item so that it stays the same row while others come and go.
class RowInterface : public QAccessibleInterface, public QAccessibleActionInterface {
public:
    RowInterface(QListView *view, const QUuid &id) : m_view(view), m_id(id) {}

    QModelIndex index() const { return rowOf(m_view, m_id); }

    bool isValid() const override { return index().isValid(); }
    QObject *object() const override { return nullptr; }
    QWindow *window() const override { return m_view ? m_view->window()->windowHandle() : nullptr; }
    QAccessibleInterface *parent() const override { return QAccessible::queryAccessibleInterface(m_view); }
    QAccessibleInterface *child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }
    QAccessibleInterface *childAt(int, int) const override { return nullptr; }
    QAccessible::Role role() const override { return QAccessible::ListItem; }
    void setText(QAccessible::Text, const QString &) override {}

    QString text(QAccessible::Text kind) const override
    {
        switch (kind) {
        case QAccessible::Name: return index().data(Qt::AccessibleTextRole).toString();
        case QAccessible::Description: return index().data(Qt::AccessibleDescriptionRole).toString();
        case QAccessible::Help: return index().data(Qt::ToolTipRole).toString();
        default: return {};
        }
    }

    QRect rect() const override
    {
        const QModelIndex row = index();
        if (!row.isValid())
            return {};
        const QRect local = m_view->visualRect(row);
        return QRect(m_view->viewport()->mapToGlobal(local.topLeft()), local.size());
    }

    QAccessible::State state() const override
    {
        QAccessible::State state;
        const QModelIndex row = index();
        if (!row.isValid()) {
            state.invalid = true;
            return state;
        }
        state.focusable = true;
        state.focused = m_view->hasFocus() && m_view->currentIndex() == row;
        state.active = m_view->currentIndex() == row;
        state.invisible = !m_view->isVisible();
        return state;
    }

    void *interface_cast(QAccessible::InterfaceType type) override
    {
        return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface *>(this) : nullptr;
    }

    QStringList actionNames() const override
    {
        QStringList names;
        for (QueueRowDelegate::Button button : QueueRowDelegate::buttons(index()))
            names.append(QueueRowDelegate::title(button));
        return names;
    }

    QStringList keyBindingsForAction(const QString &name) const override
    {
        if (name == QueueRowDelegate::title(QueueRowDelegate::Button::remove))
            return {QStringLiteral("Delete")};
        return {};
    }

    void doAction(const QString &name) override
    {
        const QModelIndex row = index();
        auto *keys = m_view ? m_view->findChild<QueueRowKeys *>(QString(), Qt::FindDirectChildrenOnly) : nullptr;
        if (!keys)
            return;
        for (QueueRowDelegate::Button button : QueueRowDelegate::buttons(row)) {
            if (QueueRowDelegate::title(button) == name)
                keys->act(row, button);
        }
    }

private:
    QPointer<QListView> m_view;
    QUuid m_id;
};

// The list: a list whose children are its rows.
class ListInterface : public QAccessibleWidget {
public:
    explicit ListInterface(QListView *view) : QAccessibleWidget(view, QAccessible::List) {}

    ~ListInterface() override
    {
        for (QAccessible::Id made : std::as_const(m_rows))
            QAccessible::deleteAccessibleInterface(made);
    }

    QListView *view() const { return static_cast<QListView *>(widget()); }

    int childCount() const override { return view()->model() ? view()->model()->rowCount() : 0; }

    QAccessibleInterface *child(int index) const override
    {
        if (index < 0 || index >= childCount())
            return nullptr;
        const QUuid id = view()->model()->index(index, 0).data(QueueModel::IdRole).toUuid();
        if (m_rows.size() > childCount())
            forgetGoneRows();
        if (const auto made = m_rows.constFind(id); made != m_rows.cend())
            return QAccessible::accessibleInterface(*made);
        auto *row = new RowInterface(view(), id);
        m_rows.insert(id, QAccessible::registerAccessibleInterface(row));
        return row;
    }

    int indexOfChild(const QAccessibleInterface *child) const override
    {
        const auto *row = dynamic_cast<const RowInterface *>(child);
        return row && row->index().isValid() ? row->index().row() : -1;
    }

    QAccessibleInterface *childAt(int x, int y) const override
    {
        const QModelIndex row = view()->indexAt(view()->viewport()->mapFromGlobal(QPoint(x, y)));
        return row.isValid() ? child(row.row()) : nullptr;
    }

    QAccessibleInterface *focusChild() const override
    {
        const QModelIndex current = view()->currentIndex();
        return view()->hasFocus() && current.isValid() ? child(current.row()) : nullptr;
    }

private:
    void forgetGoneRows() const
    {
        for (auto made = m_rows.begin(); made != m_rows.end();) {
            if (rowOf(view(), made.key()).isValid()) {
                ++made;
                continue;
            }
            QAccessible::deleteAccessibleInterface(*made);
            made = m_rows.erase(made);
        }
    }

    mutable QHash<QUuid, QAccessible::Id> m_rows;
};

QAccessibleInterface *queueInterface(const QString &className, QObject *object)
{
    auto *view = qobject_cast<QListView *>(object);
    if (className != QLatin1String("QListView") || !view
        || !view->findChild<QueueRowKeys *>(QString(), Qt::FindDirectChildrenOnly))
        return nullptr;
    return new ListInterface(view);
}

} // namespace

void QueueRowAccess::install()
{
    static const bool installed = [] {
        QAccessible::installFactory(queueInterface);
        return true;
    }();
    Q_UNUSED(installed);
}

} // namespace vorlik::convert
