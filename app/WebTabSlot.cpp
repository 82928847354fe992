#include "app/WebTabSlot.h"

#include <QVBoxLayout>

namespace vorlik::app {

WebTabSlot::WebTabSlot(bool isCorrection, QWidget *parent) : QWidget(parent), m_isCorrection(isCorrection)
{
    setObjectName(isCorrection ? QStringLiteral("Correction") : QStringLiteral("Cinema"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
}

void WebTabSlot::setActive(bool active)
{
    if (m_tab && m_setTabActive)
        m_setTabActive(m_tab, active);
    if (m_active == active)
        return;
    m_active = active;
    emit activeChanged(active);
}

void WebTabSlot::attach(QWidget *tab, std::function<void(QWidget *, bool)> setTabActive)
{
    m_tab = tab;
    m_setTabActive = std::move(setTabActive);
    layout()->addWidget(tab);
    emit attached();
}

} // namespace vorlik::app
