#pragma once
// One queued file on the Analysis page: a header with the disclosure chevron, the symbol, the
// file name, the item's status and the report's summary line; opened, a failed item shows its
// error with Retry, a finished one its report with Save Report. A finished item can be cleared.
#include "analysis/AnalysisRunner.h"
#include "analysis/DisclosureButton.h"
#include "analysis/ElidedLabel.h"
#include "analysis/ReportView.h"

#include <QPointer>
#include <QWidget>

class QLabel;
class QPushButton;
class QToolButton;
class QVBoxLayout;

namespace vorlik::analysis {

class AnalysisCard;

class AnalysisProgressRow;

class AnalysisItemCard : public QWidget {
    Q_OBJECT
public:
    explicit AnalysisItemCard(const AnalysisRunner::Item &item, QWidget *parent = nullptr);

    QUuid itemID() const { return m_item.id; }
    // Shows the item as it is now; `idle` says whether the runner would act on Retry and Clear.
    void setItem(const AnalysisRunner::Item &item, bool expanded, bool idle);
    // How far the item has got while it is worked on; none otherwise.
    void setProgress(const std::optional<AnalysisRunner::Progress> &progress);

    bool isExpanded() const { return m_expanded; }
    bool isFailed() const;

    // For the page's tests and screenshots.
    DisclosureButton *chevron() const { return m_chevron; }
    QLabel *nameLabel() const { return m_name; }
    QLabel *statusLabel() const { return m_status; }
    QLabel *summaryLabel() const { return m_summary; }
    AnalysisProgressRow *progressRow() const { return m_progress; }
    QLabel *errorLabel() const { return m_error; }
    QPushButton *retryButton() const { return m_retry; }
    QPushButton *saveButton() const { return m_save; }
    QPushButton *clearButton() const { return m_clear; }
    ReportView *report() const { return m_report; }
    QString symbolName() const { return m_symbolName; }
    QString chevronName() const;

signals:
    void toggled();
    void retryRequested();
    void saveRequested();
    void clearRequested();

protected:
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void showBody();

    AnalysisRunner::Item m_item;
    bool m_expanded = false;
    AnalysisCard *m_card;
    DisclosureButton *m_chevron;
    QLabel *m_symbol;
    QString m_symbolName;
    ElidedLabel *m_name;
    ElidedLabel *m_status;
    QLabel *m_summary;
    AnalysisProgressRow *m_progress;
    QPushButton *m_clear;
    QWidget *m_body;
    QVBoxLayout *m_bodyLayout;
    QWidget *m_errorBox;
    QLabel *m_error;
    QPushButton *m_retry;
    QPushButton *m_save;
    QPointer<ReportView> m_report;
    std::optional<AnalysisPayload> m_reportShown; // the report m_report was built from
};

} // namespace vorlik::analysis
