#include "convert/ConvertToolbar.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QPushButton>

namespace vorlik::convert {

ConvertToolbar::ConvertToolbar(bool autoStart, QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("toolbar"));
    m_autoStartSwitch = new QCheckBox(QStringLiteral("Auto start"), this);
    m_autoStartSwitch->setChecked(autoStart);
    connect(m_autoStartSwitch, &QCheckBox::toggled, this, &ConvertToolbar::autoStartToggled);
    m_installButton = new QPushButton(QStringLiteral("Install FFmpeg"), this);
    connect(m_installButton, &QPushButton::clicked, this, &ConvertToolbar::installRequested);
    m_convertButton = new QPushButton(QStringLiteral("Convert"), this);
    m_convertButton->setDefault(true);
    connect(m_convertButton, &QPushButton::clicked, this, &ConvertToolbar::convertRequested);
    m_stopButton = new QPushButton(QStringLiteral("Stop"), this);
    connect(m_stopButton, &QPushButton::clicked, this, &ConvertToolbar::stopRequested);
    m_refreshButton = new QPushButton(QStringLiteral("Refresh scripts"), this);
    connect(m_refreshButton, &QPushButton::clicked, this, &ConvertToolbar::refreshRequested);

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    layout->addWidget(m_autoStartSwitch);
    layout->addStretch(1);
    layout->addWidget(m_installButton);
    layout->addWidget(m_convertButton);
    layout->addWidget(m_stopButton);
    layout->addWidget(m_refreshButton);
}

void ConvertToolbar::showState(const State &state)
{
    if (m_autoStartSwitch->isChecked() != state.autoStart) {
        const QSignalBlocker quiet(m_autoStartSwitch);
        m_autoStartSwitch->setChecked(state.autoStart);
    }
    m_installButton->setVisible(!state.hasFFmpeg);
    m_convertButton->setVisible(!state.autoStart);
    m_convertButton->setEnabled(state.hasFFmpeg && state.hasPending && !state.running);
    m_stopButton->setVisible(state.running);
    m_stopButton->setText(state.stopping ? QStringLiteral("Stopping\u2026") : QStringLiteral("Stop"));
    m_stopButton->setEnabled(!state.stopping);
}

} // namespace vorlik::convert
