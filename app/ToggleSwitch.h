#pragma once
// An on/off switch: a checkable button drawn as a sliding knob, with its label beside it.
#include <QAbstractButton>

namespace vorlik::app {

class ToggleSwitch : public QAbstractButton {
    Q_OBJECT
public:
    explicit ToggleSwitch(const QString &label, QWidget *parent = nullptr);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    bool hitButton(const QPoint &position) const override;

private:
    static constexpr int trackWidth = 34;
    static constexpr int trackHeight = 20;
};

} // namespace vorlik::app
