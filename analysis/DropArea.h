#pragma once
// The dashed area inside a card where files are dropped: a title and a hint, the border drawn
// dashed (1.5 wide, dashes of 10) and highlighted while a drag hovers over the card.
#include <QWidget>

class QLabel;

namespace vorlik::analysis {

class DropArea : public QWidget {
    Q_OBJECT
public:
    DropArea(const QString &title, const QString &hint, QWidget *parent = nullptr);

    void setTexts(const QString &title, const QString &hint);
    QString title() const;
    QString hint() const;

    void setHighlighted(bool highlighted);
    bool isHighlighted() const { return m_highlighted; }

    static QColor accentColor();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QLabel *m_title;
    QLabel *m_hint;
    bool m_highlighted = false;
};

} // namespace vorlik::analysis
