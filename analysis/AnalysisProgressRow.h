#pragma once
// The line under an item card's name while the item is worked on: a bar and a text beside it —
// bytes sent of the upload's size while uploading, then "Analysing…" with the time the job has
// run so far (counted on by the second). Hidden otherwise.
#include "analysis/AnalysisRunner.h"

#include <QTimer>
#include <QWidget>

#include <optional>

class QLabel;
class QProgressBar;

namespace vorlik::analysis {

class AnalysisProgressRow : public QWidget {
    Q_OBJECT
public:
    explicit AnalysisProgressRow(QWidget *parent = nullptr);

    void setProgress(const std::optional<AnalysisRunner::Progress> &progress);

    QProgressBar *bar() const { return m_bar; }
    QLabel *label() const { return m_label; }

private:
    void showProgress();

    std::optional<AnalysisRunner::Progress> m_progress;
    QProgressBar *m_bar;
    QLabel *m_label;
    QTimer m_tick;
};

} // namespace vorlik::analysis
