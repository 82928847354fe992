#include "app/PlaceholderPage.h"

namespace vorlik::app {

PlaceholderPage::PlaceholderPage(const QString &name, QWidget *parent) : QWidget(parent)
{
    setObjectName(name);
}

void PlaceholderPage::setActive(bool active)
{
    if (m_active == active)
        return;
    m_active = active;
    emit activeChanged(active);
}

} // namespace vorlik::app
