// The card drop target with synthesised drag events: hover callbacks and copy answers, file
// drops handed on in one call, non-file drags refused at the drop, nothing at all while
// inactive, and the card height kept between 255 and 600.
#include "analysis/CardDropTarget.h"
#include "tests/support/DropEvents.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QVBoxLayout>

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

struct Recorder {
    QList<bool> targeted;
    QList<QList<QUrl>> drops;
    bool answer = true;

    void attach(CardDropTarget &card)
    {
        card.setOnTargeted([this](bool on) { targeted.append(on); });
        card.setOnDrop([this](const QList<QUrl> &files) {
            drops.append(files);
            return answer;
        });
    }
};

QList<QUrl> files(std::initializer_list<const char *> paths)
{
    QList<QUrl> urls;
    for (const char *path : paths)
        urls.append(QUrl::fromLocalFile(QString::fromUtf8(path)));
    return urls;
}

TEST(CardDropTarget, HeightFollowsTheContentBetween255And600)
{
    const struct {
        int content;
        int card;
    } cases[] = {{100, 255}, {254, 255}, {255, 255}, {400, 400}, {600, 600}, {601, 600}, {900, 600}};
    for (const auto &c : cases) {
        auto *content = new SizedContent(c.content);
        CardDropTarget card(content);
        // Not measured yet: 255 whatever the content says.
        EXPECT_EQ(card.sizeHint().height(), 255) << c.content;
        EXPECT_FALSE(card.measuredHeight().has_value());
        card.remeasure();
        EXPECT_EQ(card.measuredHeight(), std::optional<int>(c.content));
        EXPECT_EQ(card.sizeHint().height(), c.card) << c.content;
    }
}

TEST(CardDropTarget, MeasuresAgainWhenTheContentAsksForANewSize)
{
    auto *content = new SizedContent(100);
    CardDropTarget card(content);
    card.show(); // a layout that is not shown does not ask again
    card.remeasure();
    EXPECT_EQ(card.sizeHint().height(), 255);
    content->setFittingHeight(900);
    QCoreApplication::processEvents(); // the layout request arrives
    EXPECT_EQ(card.sizeHint().height(), 600);
    content->setFittingHeight(300);
    QCoreApplication::processEvents();
    EXPECT_EQ(card.sizeHint().height(), 300);
}

TEST(CardDropTarget, ThreeFilesAreOneDropWithAllThree)
{
    CardDropTarget card(new SizedContent(100));
    Recorder recorder;
    recorder.attach(card);
    const QList<QUrl> dropped = files({"/tmp/a.wav", "/tmp/b b.wav", "/tmp/c.mov"});
    const auto data = fileData(dropped);

    const DragAnswer entered = dragEnter(&card, *data);
    EXPECT_TRUE(entered.accepted);
    EXPECT_EQ(entered.action, Qt::CopyAction);
    EXPECT_EQ(dragMove(&card, *data).action, Qt::CopyAction);
    EXPECT_EQ(recorder.targeted, QList<bool>{true});
    const DragAnswer dropped_ = drop(&card, *data);
    EXPECT_TRUE(dropped_.accepted);
    EXPECT_EQ(dropped_.action, Qt::CopyAction);
    ASSERT_EQ(recorder.drops.size(), 1);
    EXPECT_EQ(recorder.drops.first(), dropped);
    EXPECT_EQ(recorder.targeted, (QList<bool>{true, false}));
}

TEST(CardDropTarget, TheDropIsRefusedWhenTheConsumerSaysNo)
{
    CardDropTarget card(new SizedContent(100));
    Recorder recorder;
    recorder.answer = false;
    recorder.attach(card);
    EXPECT_FALSE(dropFiles(&card, files({"/tmp/a.wav"})));
    EXPECT_EQ(recorder.drops.size(), 1);

    CardDropTarget unattached(new SizedContent(100));
    EXPECT_TRUE(dragEnter(&unattached, *fileData(files({"/tmp/a.wav"}))).accepted);
    EXPECT_FALSE(dropFiles(&unattached, files({"/tmp/a.wav"})));
}

TEST(CardDropTarget, NonFileDragsAreAnsweredWithCopyButTheDropIsRefused)
{
    CardDropTarget card(new SizedContent(100));
    Recorder recorder;
    recorder.attach(card);
    const auto text = textData(QStringLiteral("just words"));
    EXPECT_EQ(dragEnter(&card, *text).action, Qt::CopyAction);
    EXPECT_EQ(dragMove(&card, *text).action, Qt::CopyAction);
    EXPECT_FALSE(drop(&card, *text).accepted);
    EXPECT_TRUE(recorder.drops.isEmpty());
    EXPECT_EQ(recorder.targeted, (QList<bool>{true, false}));

    // Web addresses are not files either; among files they are left out.
    const QList<QUrl> mixed{QUrl(QStringLiteral("https://example.com/a.wav")), QUrl::fromLocalFile(QStringLiteral("/tmp/b.wav"))};
    const auto web = fileData({mixed.first()});
    EXPECT_TRUE(dragEnter(&card, *web).accepted);
    EXPECT_FALSE(drop(&card, *web).accepted);
    EXPECT_TRUE(recorder.drops.isEmpty());
    EXPECT_TRUE(dropFiles(&card, mixed));
    ASSERT_EQ(recorder.drops.size(), 1);
    EXPECT_EQ(recorder.drops.first(), QList<QUrl>{mixed.last()});
}

TEST(CardDropTarget, AnInactiveCardIsNotOfferedDrags)
{
    CardDropTarget card(new SizedContent(100));
    Recorder recorder;
    recorder.attach(card);
    card.setActive(false);
    EXPECT_FALSE(card.acceptDrops());
    const auto data = fileData(files({"/tmp/a.wav"}));
    EXPECT_FALSE(dragEnter(&card, *data).accepted);
    EXPECT_FALSE(dragMove(&card, *data).accepted);
    EXPECT_FALSE(drop(&card, *data).accepted);
    EXPECT_TRUE(recorder.targeted.isEmpty());
    EXPECT_TRUE(recorder.drops.isEmpty());

    card.setActive(true);
    EXPECT_TRUE(card.acceptDrops());
    EXPECT_TRUE(dragEnter(&card, *data).accepted);
    dragLeave(&card);
    EXPECT_EQ(recorder.targeted, (QList<bool>{true, false}));
}

TEST(CardDropTarget, GoingInactiveDuringAHoverEndsTheHover)
{
    CardDropTarget card(new SizedContent(100));
    Recorder recorder;
    recorder.attach(card);
    dragEnter(&card, *fileData(files({"/tmp/a.wav"})));
    card.setActive(false);
    EXPECT_EQ(recorder.targeted, (QList<bool>{true, false}));
}

} // namespace
