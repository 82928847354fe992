#include "app/ShellAccessibility.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleWidget>

namespace vorlik::app {

namespace {

// A tab button (QPushButton with the property appTab): a page tab, selected while its page
// shows; pressing it selects the page.
class PageTabInterface : public QAccessibleWidget {
public:
    explicit PageTabInterface(QWidget *button) : QAccessibleWidget(button, QAccessible::PageTab) {}

    QAbstractButton *button() const { return static_cast<QAbstractButton *>(widget()); }

    QString text(QAccessible::Text kind) const override
    {
        if (kind == QAccessible::Name && button()->accessibleName().isEmpty())
            return button()->text();
        return QAccessibleWidget::text(kind);
    }

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.selectable = true;
        state.selected = button()->isChecked();
        state.checkable = false;
        state.checked = false;
        return state;
    }

    QStringList actionNames() const override { return {QAccessibleActionInterface::pressAction()}; }

    void doAction(const QString &action) override
    {
        if (action == QAccessibleActionInterface::pressAction() && button()->isEnabled())
            button()->click();
    }
};

class RoleInterface : public QAccessibleWidget {
public:
    RoleInterface(QWidget *widget, QAccessible::Role role, QString name = {})
        : QAccessibleWidget(widget, role), m_name(std::move(name))
    {
    }

    QString text(QAccessible::Text kind) const override
    {
        if (kind == QAccessible::Name && widget()->accessibleName().isEmpty()) {
            if (!m_name.isEmpty())
                return m_name;
            if (widget()->isWindow())
                return widget()->windowTitle();
        }
        return QAccessibleWidget::text(kind);
    }

private:
    QString m_name;
};

QAccessibleInterface *shellInterface(const QString &className, QObject *object)
{
    auto *widget = qobject_cast<QWidget *>(object);
    if (!widget)
        return nullptr;
    if (className == QLatin1String("QPushButton") && widget->property("appTab").toBool())
        return new PageTabInterface(widget);
    if (className == QLatin1String("QWidget") && widget->objectName() == QLatin1String("tabBar"))
        return new RoleInterface(widget, QAccessible::PageTabList, QStringLiteral("Tabs"));
    if (className == QLatin1String("QWidget") && widget->objectName() == QLatin1String("preferencesWindow"))
        return new RoleInterface(widget, QAccessible::Window);
    if (className == QLatin1String("vorlik::app::SignInPopover"))
        return new RoleInterface(widget, QAccessible::Dialog, QStringLiteral("Sign in"));
    return nullptr;
}

} // namespace

void ShellAccessibility::install()
{
    static const bool installed = [] {
        QAccessible::installFactory(shellInterface);
        return true;
    }();
    Q_UNUSED(installed);
}

void ShellAccessibility::refresh(QObject *object)
{
    if (QAccessibleInterface *made = QAccessible::queryAccessibleInterface(object))
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
}

} // namespace vorlik::app
