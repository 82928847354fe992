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
    void setFittingHeight(int height) { m_height = height; updateGeometry(); }
    QSize sizeHint() const override { return {320, m_height}; }

private:
    int m_height;
};

const QList<QUrl> files{QUrl::fromLocalFile(QStringLiteral("/tmp/a.wav")), QUrl::fromLocalFile(QStringLiteral("/tmp/b b.wav")),
                        QUrl::fromLocalFile(QStringLiteral("/tmp/c.mov"))};

TEST(CardDropTarget, HeightFollowsTheContentBetween255And600AndFilesAreOneDropWhileOtherDragsAreRefused)
{
    auto *content = new SizedContent(100);
    CardDropTarget card(content);
    card.show();
    EXPECT_EQ(card.sizeHint().height(), 255) << "not measured yet";
    card.remeasure();
    EXPECT_EQ(card.measuredHeight(), std::optional<int>(100));
    EXPECT_EQ(card.sizeHint().height(), 255);
    // A shown card measures again when its content asks for a new size.
    for (const auto &[fitting, height] : {std::pair{900, 600}, {300, 300}}) {
        content->setFittingHeight(fitting);
        QCoreApplication::processEvents(); // the layout request arrives
        EXPECT_EQ(card.sizeHint().height(), height) << fitting;
    }

    // A second card whose hovers and drops are recorded; its consumer takes a drop while `takes` holds.
    CardDropTarget target(new SizedContent(100));
    QList<bool> targeted;
    QList<QList<QUrl>> drops;
    bool takes = true;
    target.setOnTargeted([&](bool on) { targeted.append(on); });
    target.setOnDrop([&](const QList<QUrl> &dropped) { drops.append(dropped); return takes; });
    const auto data = fileData(files);
    EXPECT_EQ(dragEnter(&target, *data).action, Qt::CopyAction);
    EXPECT_EQ(dragMove(&target, *data).action, Qt::CopyAction);
    EXPECT_EQ(targeted, QList<bool>{true});
    const DragAnswer answer = drop(&target, *data);
    EXPECT_EQ(std::tuple(answer.accepted, answer.action), std::tuple(true, Qt::CopyAction));
    EXPECT_EQ(drops, QList<QList<QUrl>>{files});
    EXPECT_EQ(targeted, (QList<bool>{true, false}));

    // Text and web addresses are answered with copy but are not files; among files they are left out.
    drops.clear();
    const auto text = textData(QStringLiteral("just words"));
    EXPECT_EQ(dragEnter(&target, *text).action, Qt::CopyAction);
    EXPECT_FALSE(drop(&target, *text).accepted);
    const QUrl web(QStringLiteral("https://example.com/a.wav"));
    EXPECT_TRUE(dragEnter(&target, *fileData({web})).accepted);
    EXPECT_FALSE(drop(&target, *fileData({web})).accepted);
    EXPECT_TRUE(drops.isEmpty());
    EXPECT_TRUE(dropFiles(&target, QList<QUrl>{web, files.first()}));
    EXPECT_EQ(drops, QList<QList<QUrl>>{{files.first()}});

    // The consumer's no refuses the drop, as does having no consumer.
    takes = false;
    EXPECT_FALSE(dropFiles(&target, files));
    EXPECT_EQ(drops.size(), 2);
    CardDropTarget unattached(new SizedContent(100));
    EXPECT_FALSE(dropFiles(&unattached, files));
}

} // namespace
