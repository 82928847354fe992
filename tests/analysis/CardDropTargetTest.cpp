// The card drop target with synthesised drag events: hover callbacks and copy answers, file
// drops handed on in one call, non-file drags refused at the drop, nothing at all while
// inactive, and the card height kept between 255 and 600.
#include "analysis/CardDropTarget.h"
#include "tests/support/DropEvents.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

using vorlik::analysis::CardDropTarget;
using namespace vorlik::test;

namespace {

// Content whose fitting height the test sets.
class SizedContent : public QWidget {
public:
    explicit SizedContent(int height) : m_height(height) {}
    void setFittingHeight(int height)
    {
        m_height = height;
        updateGeometry();
    }
    QSize sizeHint() const override { return {320, m_height}; }

private:
    int m_height;
};

// A card whose hovers and drops are recorded; its consumer takes a drop while `answer` holds.
struct RecordedCard {
    CardDropTarget card{new SizedContent(100)};
    QList<bool> targeted;
    QList<QList<QUrl>> drops;
    bool answer = true;

    RecordedCard()
    {
        card.setOnTargeted([this](bool on) { targeted.append(on); });
        card.setOnDrop([this](const QList<QUrl> &files) {
            drops.append(files);
            return answer;
        });
    }
};

const QList<QUrl> files{QUrl::fromLocalFile(QStringLiteral("/tmp/a.wav")), QUrl::fromLocalFile(QStringLiteral("/tmp/b b.wav")),
                        QUrl::fromLocalFile(QStringLiteral("/tmp/c.mov"))};

TEST(CardDropTarget, HeightFollowsTheContentBetween255And600)
{
    for (const auto &[content, height] : {std::pair{100, 255}, {255, 255}, {400, 400}, {600, 600}, {601, 600}}) {
        CardDropTarget card(new SizedContent(content));
        EXPECT_EQ(card.sizeHint().height(), 255) << "not measured yet: " << content;
        card.remeasure();
        EXPECT_EQ(card.measuredHeight(), std::optional<int>(content));
        EXPECT_EQ(card.sizeHint().height(), height) << content;
    }

    // A shown card measures again when its content asks for a new size.
    auto *content = new SizedContent(100);
    CardDropTarget card(content);
    card.show();
    card.remeasure();
    for (const auto &[fitting, height] : {std::pair{900, 600}, {300, 300}}) {
        content->setFittingHeight(fitting);
        QCoreApplication::processEvents(); // the layout request arrives
        EXPECT_EQ(card.sizeHint().height(), height);
    }
}

TEST(CardDropTarget, FilesAreOneDropAndOtherDragsAreRefusedAtTheDrop)
{
    RecordedCard r;
    const auto data = fileData(files);
    EXPECT_EQ(dragEnter(&r.card, *data).action, Qt::CopyAction);
    EXPECT_EQ(dragMove(&r.card, *data).action, Qt::CopyAction);
    EXPECT_EQ(r.targeted, QList<bool>{true});
    const DragAnswer answer = drop(&r.card, *data);
    EXPECT_TRUE(answer.accepted);
    EXPECT_EQ(answer.action, Qt::CopyAction);
    EXPECT_EQ(r.drops, QList<QList<QUrl>>{files});
    EXPECT_EQ(r.targeted, (QList<bool>{true, false}));

    // Text and web addresses are answered with copy but are not files; among files they are left out.
    r.drops.clear();
    const auto text = textData(QStringLiteral("just words"));
    EXPECT_EQ(dragEnter(&r.card, *text).action, Qt::CopyAction);
    EXPECT_FALSE(drop(&r.card, *text).accepted);
    const QUrl web(QStringLiteral("https://example.com/a.wav"));
    EXPECT_TRUE(dragEnter(&r.card, *fileData({web})).accepted);
    EXPECT_FALSE(drop(&r.card, *fileData({web})).accepted);
    EXPECT_TRUE(r.drops.isEmpty());
    EXPECT_TRUE(dropFiles(&r.card, QList<QUrl>{web, files.first()}));
    EXPECT_EQ(r.drops, QList<QList<QUrl>>{{files.first()}});

    // The consumer's no refuses the drop, as does having no consumer.
    r.answer = false;
    EXPECT_FALSE(dropFiles(&r.card, files));
    EXPECT_EQ(r.drops.size(), 2);
    CardDropTarget unattached(new SizedContent(100));
    EXPECT_FALSE(dropFiles(&unattached, files));
}

TEST(CardDropTarget, AnInactiveCardIsNotOfferedDragsAndGoingInactiveEndsAHover)
{
    RecordedCard r;
    r.card.setActive(false);
    EXPECT_FALSE(r.card.acceptDrops());
    const auto data = fileData(files);
    EXPECT_FALSE(dragEnter(&r.card, *data).accepted);
    EXPECT_FALSE(dragMove(&r.card, *data).accepted);
    EXPECT_FALSE(drop(&r.card, *data).accepted);
    EXPECT_TRUE(r.targeted.isEmpty() && r.drops.isEmpty());

    r.card.setActive(true);
    EXPECT_TRUE(dragEnter(&r.card, *data).accepted);
    dragLeave(&r.card);
    dragEnter(&r.card, *data);
    r.card.setActive(false);
    EXPECT_EQ(r.targeted, (QList<bool>{true, false, true, false}));
}

} // namespace
