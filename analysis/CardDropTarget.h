#pragma once
// The file-drop area of the page cards: wraps a content widget, takes file drags while it is
// active, tells the page when a drag hovers (onTargeted) and hands it the dropped files
// (onDrop, whose answer accepts or refuses the drop). Its height follows the content's size
// hint, kept between 255 and 600 pixels so that the cards keep a steady size.
#include <QList>
#include <QPointer>
#include <QUrl>
#include <QWidget>

#include <functional>
#include <optional>

namespace vorlik::analysis {

class CardDropTarget : public QWidget {
    Q_OBJECT
public:
    static constexpr int minimumHeight = 255;
    static constexpr int maximumHeight = 600;

    using DropHandler = std::function<bool(const QList<QUrl> &files)>;
    using TargetHandler = std::function<void(bool targeted)>;

    // Takes the content as its one child, filling it. Accepts file drags from the start.
    explicit CardDropTarget(QWidget *content, QWidget *parent = nullptr);

    QWidget *content() const { return m_content; }

    // While inactive the card takes no drags at all: no hover callbacks, no drops.
    void setActive(bool active);
    bool isActive() const { return m_active; }

    void setOnDrop(DropHandler handler) { m_onDrop = std::move(handler); }
    void setOnTargeted(TargetHandler handler) { m_onTargeted = std::move(handler); }

    // Measures the content again (its height at the card's width, or its size hint when that
    // does not depend on the width) and asks the layout for the new height. The
    // card measures itself whenever its content's layout changes; until the first measurement
    // it is 255 pixels high.
    void remeasure();
    // The content's height as last measured, before clamping; none until measured.
    std::optional<int> measuredHeight() const { return m_measured; }
    int cardHeight() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    // The card's height is its own (clamped), whatever the content would do at another width.
    bool hasHeightForWidth() const override { return false; }

protected:
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dragLeaveEvent(QDragLeaveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void targeted(bool on);

    QPointer<QWidget> m_content;
    bool m_active = true;
    bool m_hovering = false;
    std::optional<int> m_measured;
    DropHandler m_onDrop;
    TargetHandler m_onTargeted;
};

} // namespace vorlik::analysis
