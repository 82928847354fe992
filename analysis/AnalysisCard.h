#pragma once
// The rounded card that holds the drop area and each queued file on the pages; drawn red for
// a failed item.
#include <QFrame>

namespace vorlik::analysis {

class AnalysisCard : public QFrame {
    Q_OBJECT
public:
    explicit AnalysisCard(QWidget *parent = nullptr);

    void setFailed(bool failed);
    bool isFailed() const { return m_failed; }

    static QColor failedColor();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    bool m_failed = false;
};

} // namespace vorlik::analysis
