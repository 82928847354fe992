#include "app/SettingsSection.h"

#include <QLabel>
#include <QVBoxLayout>

namespace vorlik::app {

SettingsSection::SettingsSection(const QString &title, QWidget *parent) : QWidget(parent)
{
    auto *heading = new QLabel(title, this);
    heading->setObjectName(QStringLiteral("sectionTitle"));
    QFont bold = heading->font();
    bold.setBold(true);
    heading->setFont(bold);

    auto *panel = new QFrame(this);
    panel->setObjectName(QStringLiteral("sectionPanel"));
    panel->setStyleSheet(QStringLiteral("QFrame#sectionPanel { background: palette(base);"
                                        " border: 1px solid palette(midlight); border-radius: 8px; }"));
    m_body = new QVBoxLayout(panel);
    m_body->setContentsMargins(14, 10, 14, 12);
    m_body->setSpacing(7);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(5);
    layout->addWidget(heading);
    layout->addWidget(panel);
}

QLabel *SettingsSection::makeNote(const QString &text, QWidget *parent)
{
    auto *note = new QLabel(text, parent);
    note->setWordWrap(true);
    note->setForegroundRole(QPalette::PlaceholderText);
    note->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QFont small = note->font();
    small.setPointSizeF(small.pointSizeF() * 0.9);
    note->setFont(small);
    return note;
}

} // namespace vorlik::app
