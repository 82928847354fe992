#include "convert/ConvertStatusBar.h"

#include "analysis/ElidedLabel.h"
#include "analysis/PageStyle.h"
#include "platform/BuildInfo.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

namespace vorlik::convert {

using analysis::style::secondaryText;
using analysis::style::setTextColor;

ConvertStatusBar::ConvertStatusBar(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("statusBar"));
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("statusLine"));
    m_status->setTextFormat(Qt::PlainText);
    m_status->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_output = new QLabel(this);
    m_output->setObjectName(QStringLiteral("outputLine"));
    m_output->setTextFormat(Qt::PlainText);
    m_output->setMaximumWidth(420);
    setTextColor(m_output, secondaryText);
    m_preferences = new QPushButton(QStringLiteral("Preferences"), this);
    connect(m_preferences, &QPushButton::clicked, this, &ConvertStatusBar::preferencesRequested);
    // The program's name and version end in an ellipsis at the window's narrowest.
    auto *app = new analysis::ElidedLabel(this, Qt::ElideRight);
    app->setFullText(QStringLiteral("\u00B7 ") + platform::appName() + u' ' + platform::appVersion());
    app->setObjectName(QStringLiteral("appLabel"));
    setTextColor(app, secondaryText);

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(2, 0, 2, 0);
    layout->setSpacing(12);
    layout->addWidget(m_status, 1);
    layout->addWidget(m_output);
    layout->addWidget(m_preferences);
    layout->addWidget(app);
}

void ConvertStatusBar::showTexts(const QString &status, const QString &output)
{
    if (m_status->text() != status) {
        m_status->setText(status);
        m_status->setToolTip(status);
    }
    if (m_output->text() != output) {
        m_output->setText(output);
        m_output->setToolTip(output);
    }
}

} // namespace vorlik::convert
