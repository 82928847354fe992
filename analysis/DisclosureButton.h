#pragma once
// The chevron that opens and closes a card: its icon shows which way it points, and assistive
// tools are told whether the card is open (expanded or collapsed) and when that changes.
#include <QToolButton>

namespace vorlik::analysis {

class DisclosureButton : public QToolButton {
    Q_OBJECT
public:
    explicit DisclosureButton(QWidget *parent = nullptr);

    bool isExpanded() const { return m_expanded; }
    // Points the chevron down (open) or right and names it after what a press would do.
    void setExpanded(bool expanded);

private:
    void showState(bool expanded);

    bool m_expanded = false;
};

} // namespace vorlik::analysis
