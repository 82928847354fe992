#pragma once
// A small spinning progress indicator. It animates only while it is visible.
#include <QBasicTimer>
#include <QWidget>

namespace vorlik::app {

class BusyIndicator : public QWidget {
    Q_OBJECT
public:
    explicit BusyIndicator(int diameter = 14, QWidget *parent = nullptr);

    QSize sizeHint() const override { return {m_diameter, m_diameter}; }
    bool isAnimating() const { return m_timer.isActive(); }

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void timerEvent(QTimerEvent *event) override;

private:
    int m_diameter;
    int m_step = 0;
    QBasicTimer m_timer;
};

} // namespace vorlik::app
