#include "analysis/AnalysisItemCard.h"

#include "analysis/AnalysisCard.h"
#include "analysis/AnalysisProgressRow.h"
#include "analysis/DisclosureButton.h"
#include "analysis/ElidedLabel.h"
#include "analysis/PageStyle.h"
#include "analysis/ReportSummary.h"
#include "analysis/ReportView.h"
#include "analysis/SymbolIcon.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace vorlik::analysis {
namespace {

using style::secondaryText;
using style::setTextColor;
using style::setText;

const QColor symbolColor(0x4a, 0x4d, 0x55);

} // namespace

AnalysisItemCard::AnalysisItemCard(const AnalysisRunner::Item &item, QWidget *parent)
    : QWidget(parent), m_item(item), m_card(new AnalysisCard(this)), m_chevron(new DisclosureButton(m_card)),
      m_symbol(new QLabel(m_card)), m_name(new ElidedLabel(m_card)), m_status(new ElidedLabel(m_card)),
      m_summary(new QLabel(m_card)), m_progress(new AnalysisProgressRow(m_card)), m_clear(new QPushButton(QStringLiteral("Clear"), m_card)),
      m_body(new QWidget(m_card)), m_bodyLayout(new QVBoxLayout(m_body)), m_errorBox(new QWidget(m_body)),
      m_error(new QLabel(m_errorBox)), m_retry(new QPushButton(QStringLiteral("Retry"), m_errorBox)),
      m_save(new QPushButton(QStringLiteral("Save Report"), m_body))
{
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(m_card);

    connect(m_chevron, &QToolButton::clicked, this, &AnalysisItemCard::toggled);

    QFont nameFont = m_name->font();
    nameFont.setWeight(QFont::DemiBold);
    m_name->setFont(nameFont);
    m_summary->setTextFormat(Qt::PlainText);
    setTextColor(m_status, secondaryText);
    m_status->setLettersKept(8);
    setTextColor(m_summary, secondaryText);
    m_summary->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);

    auto *titles = new QVBoxLayout;
    titles->setSpacing(1);
    auto *nameRow = new QHBoxLayout;
    nameRow->setSpacing(10);
    // Both give way to Clear: a long name (or a status that repeats it) is shortened in its middle.
    nameRow->addWidget(m_name);
    nameRow->addWidget(m_status, 1);
    titles->addLayout(nameRow);
    titles->addWidget(m_progress);
    titles->addWidget(m_summary);

    auto *header = new QHBoxLayout;
    header->setSpacing(8);
    header->addWidget(m_chevron, 0, Qt::AlignTop);
    header->addWidget(m_symbol, 0, Qt::AlignTop);
    header->addLayout(titles, 1);
    header->addWidget(m_clear, 0, Qt::AlignTop);
    connect(m_clear, &QPushButton::clicked, this, &AnalysisItemCard::clearRequested);

    // The body: the error with Retry for a failed item, the report with Save Report otherwise.
    auto *errorLayout = new QVBoxLayout(m_errorBox);
    errorLayout->setContentsMargins(0, 0, 0, 0);
    auto *errorHeading = new QLabel(QStringLiteral("Error"), m_errorBox);
    QFont headingFont = errorHeading->font();
    headingFont.setWeight(QFont::DemiBold);
    errorHeading->setFont(headingFont);
    setTextColor(errorHeading, AnalysisCard::failedColor());
    m_error->setWordWrap(true);
    m_error->setTextFormat(Qt::PlainText);
    m_error->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_retry->setIcon(SymbolIcon::icon(QStringLiteral("arrow.clockwise"), symbolColor));
    connect(m_retry, &QPushButton::clicked, this, &AnalysisItemCard::retryRequested);
    auto *retryRow = new QHBoxLayout;
    retryRow->addWidget(m_retry);
    retryRow->addStretch(1);
    errorLayout->addWidget(errorHeading);
    errorLayout->addWidget(m_error);
    errorLayout->addLayout(retryRow);

    m_save->setIcon(SymbolIcon::icon(QStringLiteral("square.and.arrow.down"), symbolColor));
    connect(m_save, &QPushButton::clicked, this, &AnalysisItemCard::saveRequested);
    m_bodyLayout->setContentsMargins(44, 4, 0, 0);
    m_bodyLayout->setSpacing(10);
    m_bodyLayout->addWidget(m_errorBox);
    auto *saveRow = new QHBoxLayout;
    saveRow->addWidget(m_save);
    saveRow->addStretch(1);
    m_bodyLayout->addLayout(saveRow);

    auto *cardLayout = new QVBoxLayout(m_card);
    cardLayout->setContentsMargins(12, 10, 12, 10);
    cardLayout->setSpacing(6);
    cardLayout->addLayout(header);
    cardLayout->addWidget(m_body);

    setItem(item, false, true);
}

QString AnalysisItemCard::chevronName() const
{
    return m_chevron->isExpanded() ? QStringLiteral("chevron.down") : QStringLiteral("chevron.right");
}

bool AnalysisItemCard::isFailed() const { return m_item.succeeded == false; }

void AnalysisItemCard::setItem(const AnalysisRunner::Item &item, bool expanded, bool idle)
{
    m_item = item;
    m_expanded = expanded;
    const bool failed = isFailed();
    m_card->setFailed(failed);

    m_chevron->setExpanded(expanded);
    const QString symbol = failed ? QStringLiteral("exclamationmark.triangle.fill") : QStringLiteral("waveform");
    if (symbol != m_symbolName) {
        m_symbolName = symbol;
        m_symbol->setPixmap(SymbolIcon::pixmap(symbol, 18, failed ? AnalysisCard::failedColor() : symbolColor));
    }

    m_name->setFullText(QFileInfo(item.input.toLocalFile()).fileName());
    m_status->setFullText(item.status);
    const std::optional<QString> summary = item.analysis ? ReportSummary::line(*item.analysis) : std::nullopt;
    setText(m_summary, summary.value_or(QString()));
    m_summary->setVisible(summary.has_value());

    const bool finished = item.succeeded.has_value();
    m_clear->setVisible(finished);
    m_clear->setEnabled(idle);
    m_retry->setEnabled(idle);
    showBody();
}

void AnalysisItemCard::setProgress(const std::optional<AnalysisRunner::Progress> &progress)
{
    m_progress->setProgress(progress);
}

void AnalysisItemCard::showBody()
{
    const bool failed = isFailed();
    const bool hasReport = m_item.succeeded == true && m_item.analysis.has_value();
    m_body->setVisible(m_expanded && (failed || hasReport));
    if (!m_expanded)
        return;

    m_errorBox->setVisible(failed);
    if (failed)
        setText(m_error, m_item.errorMessage.value_or(QStringLiteral("Unknown error.")));

    // The report's rows are made when the card is first opened, and again only if the report
    // itself changed (a retried item that finished anew).
    if (hasReport && (!m_report || m_reportShown != m_item.analysis)) {
        delete m_report;
        m_report = new ReportView(*m_item.analysis, m_body);
        m_bodyLayout->insertWidget(1, m_report);
        m_reportShown = m_item.analysis;
    }
    if (m_report)
        m_report->setVisible(hasReport);
    m_save->setVisible(hasReport && m_item.jobID.has_value());
}

void AnalysisItemCard::mouseReleaseEvent(QMouseEvent *event)
{
    // A click on the header opens or closes the card, like its chevron.
    if (event->button() == Qt::LeftButton && event->position().y() < m_body->y())
        emit toggled();
    QWidget::mouseReleaseEvent(event);
}

} // namespace vorlik::analysis
