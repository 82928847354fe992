#include "analysis/DisclosureButton.h"

#include "analysis/SymbolIcon.h"

#include <QAccessible>
#include <QAccessibleWidget>

namespace vorlik::analysis {
namespace {

const QColor chevronColor(0x4a, 0x4d, 0x55);

// A button that also says whether what it discloses is open.
class DisclosureInterface : public QAccessibleWidget {
public:
    explicit DisclosureInterface(QWidget *button) : QAccessibleWidget(button, QAccessible::Button) {}

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        const bool expanded = static_cast<DisclosureButton *>(widget())->isExpanded();
        state.expandable = true;
        state.expanded = expanded;
        state.collapsed = !expanded;
        return state;
    }

    QStringList actionNames() const override { return {QAccessibleActionInterface::pressAction()}; }

    void doAction(const QString &action) override
    {
        if (action == QAccessibleActionInterface::pressAction() && widget()->isEnabled())
            static_cast<DisclosureButton *>(widget())->click();
    }
};

QAccessibleInterface *disclosureInterface(const QString &className, QObject *object)
{
    if (className == QLatin1String("vorlik::analysis::DisclosureButton"))
        return new DisclosureInterface(static_cast<QWidget *>(object));
    return nullptr;
}

} // namespace

DisclosureButton::DisclosureButton(QWidget *parent) : QToolButton(parent)
{
    static const bool installed = [] {
        QAccessible::installFactory(disclosureInterface);
        return true;
    }();
    Q_UNUSED(installed);
    setObjectName(QStringLiteral("disclosure"));
    setAutoRaise(true);
    setIconSize(QSize(14, 14));
    setCursor(Qt::PointingHandCursor);
    showState(false);
}

void DisclosureButton::setExpanded(bool expanded)
{
    if (expanded == m_expanded)
        return;
    m_expanded = expanded;
    showState(expanded);
    QAccessible::State changed;
    changed.expanded = true;
    changed.collapsed = true;
    QAccessibleStateChangeEvent event(this, changed);
    QAccessible::updateAccessibility(&event);
}

void DisclosureButton::showState(bool expanded)
{
    setIcon(SymbolIcon::icon(expanded ? QStringLiteral("chevron.down") : QStringLiteral("chevron.right"), chevronColor, 14));
    setToolTip(expanded ? QStringLiteral("Close") : QStringLiteral("Open"));
    // An icon alone says nothing to a screen reader: the name tells what a press does.
    setAccessibleName(expanded ? QStringLiteral("Hide details") : QStringLiteral("Show details"));
}

} // namespace vorlik::analysis
