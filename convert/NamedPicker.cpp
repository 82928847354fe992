#include "convert/NamedPicker.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QAccessibleWidget>

namespace vorlik::convert {
namespace {

class NamedPickerInterface : public QAccessibleWidget {
public:
    explicit NamedPickerInterface(QWidget *picker) : QAccessibleWidget(picker, QAccessible::ComboBox) {}

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

    QStringList actionNames() const override { return {QAccessibleActionInterface::showMenuAction()}; }

    void doAction(const QString &action) override
    {
        if (action == QAccessibleActionInterface::showMenuAction() && picker()->isEnabled())
            picker()->showPopup();
    }
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
    // The choice changes the value a screen reader reads.
    connect(this, &QComboBox::currentTextChanged, this, [this] {
        QAccessibleValueChangeEvent event(this, currentText());
        QAccessible::updateAccessibility(&event);
    });
}

} // namespace vorlik::convert
