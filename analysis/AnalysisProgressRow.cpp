#include "analysis/AnalysisProgressRow.h"

#include "analysis/PageStyle.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>

namespace vorlik::analysis {

using Stage = AnalysisRunner::Progress::Stage;

AnalysisProgressRow::AnalysisProgressRow(QWidget *parent)
    : QWidget(parent), m_bar(new QProgressBar(this)), m_label(new QLabel(this))
{
    m_bar->setAccessibleName(QStringLiteral("Progress"));
    setObjectName(QStringLiteral("itemProgress"));
    m_bar->setTextVisible(false);
    m_bar->setFixedSize(140, 6);
    m_label->setTextFormat(Qt::PlainText);
    style::setTextColor(m_label, style::secondaryText);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 2, 0, 0);
    layout->setSpacing(8);
    layout->addWidget(m_bar, 0, Qt::AlignVCenter);
    layout->addWidget(m_label, 1);
    m_tick.setInterval(1000);
    connect(&m_tick, &QTimer::timeout, this, &AnalysisProgressRow::showProgress);
    setVisible(false);
}

void AnalysisProgressRow::setProgress(const std::optional<AnalysisRunner::Progress> &progress)
{
    m_progress = progress;
    const bool analysing = progress && progress->stage == Stage::analysing;
    if (analysing && !m_tick.isActive())
        m_tick.start();
    else if (!analysing)
        m_tick.stop();
    showProgress();
}

void AnalysisProgressRow::showProgress()
{
    setVisible(m_progress.has_value());
    if (!m_progress)
        return;
    if (const std::optional<double> fraction = m_progress->fraction()) {
        // Per mille: smooth enough on a 140-pixel bar.
        m_bar->setRange(0, 1000);
        m_bar->setValue(int(*fraction * 1000));
    } else {
        m_bar->setRange(0, 0); // the service does not say how far its job is
    }
    style::setText(m_label, m_progress->text(std::chrono::steady_clock::now()));
}

} // namespace vorlik::analysis
