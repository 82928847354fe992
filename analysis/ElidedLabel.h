#pragma once
// A one-line label that shortens its text to its width, in the middle by default ("Take 1 … mix.wav"),
// keeping the whole text as its tooltip and as its name for a screen reader. It asks for room
// for the whole text but makes do with an ellipsis, so a layout squeezes it before its neighbours.
#include <QLabel>

namespace vorlik::analysis {

class ElidedLabel : public QLabel {
    Q_OBJECT
public:
    explicit ElidedLabel(QWidget *parent = nullptr, Qt::TextElideMode mode = Qt::ElideMiddle);

    void setFullText(const QString &text);
    QString fullText() const { return m_full; }
    // The letters at the start that the label keeps however narrow it is squeezed (none by
    // default: an ellipsis alone); a status keeps its mark.
    void setLettersKept(int letters);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void elide();

    QString m_full;
    Qt::TextElideMode m_mode;
    int m_kept = 0;
};

} // namespace vorlik::analysis
