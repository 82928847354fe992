#include "analysis/AnalysisStatusBar.h"

#include "analysis/ElidedLabel.h"
#include "analysis/PageStyle.h"
#include "platform/BuildInfo.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

namespace vorlik::analysis {

using style::secondaryText;
using style::setTextColor;

AnalysisStatusBar::AnalysisStatusBar(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("statusBar"));
    // A long status ends in an ellipsis, whole in its tooltip and for a screen reader.
    m_status = new ElidedLabel(this, Qt::ElideRight);
    m_status->setObjectName(QStringLiteral("statusLine"));
    m_status->setTextFormat(Qt::PlainText);
    m_status->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_counter = new QLabel(this);
    m_counter->setObjectName(QStringLiteral("analysedCounter"));
    setTextColor(m_counter, secondaryText);
    m_preferences = new QPushButton(QStringLiteral("Preferences"), this);
    connect(m_preferences, &QPushButton::clicked, this, &AnalysisStatusBar::preferencesRequested);
    // The program's name and version end in an ellipsis at the window's narrowest.
    auto *app = new ElidedLabel(this, Qt::ElideRight);
    app->setFullText(platform::appName() + u' ' + platform::appVersion());
    app->setObjectName(QStringLiteral("appLabel"));
    setTextColor(app, secondaryText);

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(2, 0, 2, 0);
    layout->setSpacing(12);
    layout->addWidget(m_status, 1);
    layout->addWidget(m_counter);
    layout->addWidget(m_preferences);
    layout->addWidget(app);
}

QLabel *AnalysisStatusBar::statusLabel() const
{
    return m_status;
}

void AnalysisStatusBar::showStatus(const QString &status, qint64 analysedCount)
{
    if (m_status->fullText() != status)
        m_status->setFullText(status);
    m_counter->setText(QStringLiteral("Files analysed this session: ") + QString::number(analysedCount));
}

} // namespace vorlik::analysis
