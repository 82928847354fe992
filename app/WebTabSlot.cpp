#include "app/WebTabSlot.h"

#include <QLabel>
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

void WebTabSlot::showUnavailable(const QString &reason, const QString &logFile)
{
    auto *label = new QLabel(this);
    label->setObjectName(QStringLiteral("webTabUnavailable"));
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignCenter);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    label->setContentsMargins(24, 24, 24, 24);
    label->setText((m_isCorrection ? QStringLiteral("The Correction page") : QStringLiteral("The Cinema page"))
                   + QStringLiteral(" cannot be shown: the part of Vorlik Desktop that shows web pages could not be "
                                    "loaded.\n\n")
                   + reason + QStringLiteral("\n\nThe diagnostics log: ") + logFile);
    layout()->addWidget(label);
}

} // namespace vorlik::app
