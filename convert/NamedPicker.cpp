#include "convert/NamedPicker.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QHash>

namespace vorlik::convert {
namespace {

// One choice of the list: a list item named by its text, selected while it is the choice.
class ChoiceInterface : public QAccessibleInterface {
public:
    ChoiceInterface(QAccessibleInterface *list, QComboBox *picker, int row) : m_list(list), m_picker(picker), m_row(row) {}

    bool isValid() const override { return m_row < m_picker->count(); }
    QObject *object() const override { return nullptr; }
    QWindow *window() const override { return m_list->window(); }
    QAccessibleInterface *parent() const override { return m_list; }
    QAccessibleInterface *child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }
    QAccessibleInterface *childAt(int, int) const override { return nullptr; }
    QAccessibleInterface *focusChild() const override { return nullptr; }
    QAccessible::Role role() const override { return QAccessible::ListItem; }
    void setText(QAccessible::Text, const QString &) override {}

    QString text(QAccessible::Text kind) const override
    {
        return kind == QAccessible::Name && isValid() ? m_picker->itemText(m_row) : QString();
    }

    QRect rect() const override
    {
        const QAbstractItemView *view = m_picker->view();
        if (!view->isVisible())
            return {};
        const QRect shown = view->visualRect(view->model()->index(m_row, m_picker->modelColumn()));
        return QRect(view->viewport()->mapToGlobal(shown.topLeft()), shown.size());
    }

    QAccessible::State state() const override
    {
        QAccessible::State state;
        state.selectable = true;
        state.selected = m_row == m_picker->currentIndex();
        state.invisible = !m_picker->view()->isVisible();
        state.disabled = !m_picker->isEnabled();
        return state;
    }

private:
    QAccessibleInterface *m_list;
    QComboBox *m_picker;
    int m_row;
};

class NamedPickerInterface : public QAccessibleWidget {
public:
    explicit NamedPickerInterface(QWidget *picker) : QAccessibleWidget(picker, QAccessible::ComboBox) {}

    ~NamedPickerInterface() override
    {
        for (QAccessible::Id id : std::as_const(m_choices))
            QAccessible::deleteAccessibleInterface(id);
    }

    QComboBox *picker() const { return static_cast<QComboBox *>(widget()); }

    QString text(QAccessible::Text kind) const override
    {
        if (kind == QAccessible::Value)
            return picker()->currentText();
        return QAccessibleWidget::text(kind);
    }

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.expandable = true;
        state.expanded = picker()->view()->isVisible();
        state.collapsed = !state.expanded;
        return state;
    }

    // The choices are the picker's items, so a screen reader can read the list.
    int childCount() const override { return picker()->count(); }

    QAccessibleInterface *child(int index) const override
    {
        if (index < 0 || index >= picker()->count())
            return nullptr;
        auto known = m_choices.constFind(index);
        if (known != m_choices.cend())
            return QAccessible::accessibleInterface(*known);
        auto *choice = new ChoiceInterface(const_cast<NamedPickerInterface *>(this), picker(), index);
        m_choices.insert(index, QAccessible::registerAccessibleInterface(choice));
        return choice;
    }

    int indexOfChild(const QAccessibleInterface *child) const override
    {
        for (auto each = m_choices.cbegin(); each != m_choices.cend(); ++each)
            if (QAccessible::accessibleInterface(each.value()) == child)
                return each.key();
        return -1;
    }

    QStringList actionNames() const override { return {QAccessibleActionInterface::showMenuAction()}; }

    void doAction(const QString &action) override
    {
        if (action == QAccessibleActionInterface::showMenuAction() && picker()->isEnabled())
            picker()->showPopup();
    }

private:
    mutable QHash<int, QAccessible::Id> m_choices;
};

QAccessibleInterface *namedPickerInterface(const QString &className, QObject *object)
{
    if (className == QLatin1String("vorlik::convert::NamedPicker"))
        return new NamedPickerInterface(static_cast<QWidget *>(object));
    return nullptr;
}

} // namespace

NamedPicker::NamedPicker(const QString &name, QWidget *parent) : QComboBox(parent)
{
    static const bool installed = [] {
        QAccessible::installFactory(namedPickerInterface);
        return true;
    }();
    Q_UNUSED(installed);
    setAccessibleName(name);
    // The choice changes the value a screen reader reads, and which item is selected.
    connect(this, &QComboBox::currentIndexChanged, this, [this](int index) {
        QAccessibleValueChangeEvent value(this, currentText());
        QAccessible::updateAccessibility(&value);
        if (index < 0)
            return;
        QAccessibleEvent selection(this, QAccessible::Selection);
        selection.setChild(index);
        QAccessible::updateAccessibility(&selection);
    });
}

} // namespace vorlik::convert
