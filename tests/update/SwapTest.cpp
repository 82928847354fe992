// Putting the staged bundle in place of the running one: the old bundle is kept aside until the
// copy succeeded and put back when it did not, and a folder that cannot be written is left as is.
#include "app/ActiveJobs.h"
#include "platform/Settings.h"
#include "tests/support/TestFiles.h"
#include "tests/update/UpdateFixture.h"
#include "update/FileTree.h"
#include "update/UpdateError.h"
#include "update/UpdateManager.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QProcess>

#include <sys/stat.h>
#include <unistd.h>

using vorlik::app::ActiveJobs;
using vorlik::platform::Settings;
using vorlik::update::FileTree;
using vorlik::update::UpdateError;
using vorlik::update::UpdateManager;
using vorlik::update::UpdatePhase;
namespace test = vorlik::test;

namespace {

bool chattr(const QString &flag, const QString &path)
{
    return QProcess::execute(QStringLiteral("chattr"), {flag, path}) == 0;
}

class SwapTest : public test::PrivateTemp {
protected:
    void SetUp() override
    {
        PrivateTemp::SetUp();
        QDir().mkpath(applications());
        QDir().mkpath(stagingDir());
        m_current = test::makeBundle(applications(), {}, "old");
        m_staged = test::makeBundle(stagingDir(), {}, "new");
        m_before = test::snapshot(m_current);
    }
    void TearDown() override
    {
        chattr(QStringLiteral("-i"), applications());
        PrivateTemp::TearDown();
    }

    QString applications() const { return m_root.filePath(QStringLiteral("Applications")); }
    QString stagingDir() const { return m_root.filePath(QStringLiteral("Updates/0F0F")); }
    QString backup() const { return m_current + QStringLiteral(".vorlik-old"); }
    // A pipe sorts after the other entries of Resources: the copy gets halfway first.
    void makeStagedCopyFailHalfway() const
    {
        const QString pipe = m_staged + QStringLiteral("/Contents/Resources/zz-pipe");
        ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0644), 0);
    }
    std::optional<UpdateError> swapFailure()
    {
        try {
            UpdateManager::swapInStagedApp(m_current, m_staged);
        } catch (const UpdateError &error) {
            return error;
        }
        return std::nullopt;
    }

    QTemporaryDir m_root;
    QString m_current;
    QString m_staged;
    QMap<QString, QByteArray> m_before;
    ActiveJobs m_jobs;
    UpdateManager m_manager{Settings::standard(), m_jobs};
};

TEST_F(SwapTest, TheStagedBundleReplacesTheCurrentOne)
{
    test::writeFile(backup() + QStringLiteral("/leftover"), "from an install long ago");
    EXPECT_FALSE(swapFailure().has_value());
    EXPECT_EQ(test::snapshot(m_current), test::snapshot(m_staged));
    EXPECT_EQ(test::readFile(m_current + QStringLiteral("/Contents/MacOS/vorlik")), "#!/bin/sh\necho new\n");
    EXPECT_TRUE(QFileInfo(m_current + QStringLiteral("/Contents/MacOS/vorlik")).isExecutable());
    EXPECT_FALSE(QFileInfo::exists(backup()));
    EXPECT_TRUE(QFileInfo::exists(m_staged)); // the helper removes the staging folder later
}

TEST_F(SwapTest, ACopyThatFailsHalfwayPutsTheOldBundleBack)
{
    makeStagedCopyFailHalfway();
    const auto error = swapFailure();
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->code(), 14);
    EXPECT_TRUE(error->description().startsWith(
        QStringLiteral("Copy failed and the previous version was restored — Could not copy ") + m_staged
        + QStringLiteral("/Contents/Resources/zz-pipe")))
        << error->description().toStdString();
    EXPECT_EQ(test::snapshot(m_current), m_before);
    EXPECT_FALSE(QFileInfo::exists(backup()));

    // The install reports it so.
    m_manager.performSwap(m_current, m_staged, stagingDir());
    EXPECT_EQ(m_manager.phase().kind, UpdatePhase::Kind::error);
    EXPECT_TRUE(m_manager.phase().message.startsWith(
        QStringLiteral("Install failed and the previous version was restored — Copy failed and the previous "
                       "version was restored — ")))
        << m_manager.phase().message.toStdString();
    EXPECT_EQ(test::snapshot(m_current), m_before);
    EXPECT_EQ(test::tempEntries(QStringLiteral("vorlik-install-")), QStringList());
}

TEST_F(SwapTest, AnUnreadableFileInTheStagedBundleFailsTheCopy)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root reads every file; the pipe case covers the failed copy";
    const QString locked = m_staged + QStringLiteral("/Contents/Resources/notes.txt");
    ::chmod(QFile::encodeName(locked).constData(), 0);
    const auto error = swapFailure();
    ::chmod(QFile::encodeName(locked).constData(), 0644);
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->code(), 14);
    EXPECT_EQ(test::snapshot(m_current), m_before);
}

TEST_F(SwapTest, AParentThatRefusesTheMoveChangesNothing)
{
    if (!chattr(QStringLiteral("+i"), applications()))
        GTEST_SKIP() << "chattr +i is not available here";
    const auto error = swapFailure();
    chattr(QStringLiteral("-i"), applications());
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->code(), 13);
    EXPECT_TRUE(error->description().startsWith(QStringLiteral("Could not move the current app aside — Could not move aside ")
                                                + m_current + QStringLiteral(": ")))
        << error->description().toStdString();
    EXPECT_EQ(test::snapshot(m_current), m_before);
    EXPECT_FALSE(QFileInfo::exists(backup()));
}

TEST_F(SwapTest, PerformSwapLeavesAnUnwritableFolderAloneAndSaysWhatToDo)
{
    if (!chattr(QStringLiteral("+i"), applications()))
        GTEST_SKIP() << "chattr +i is not available here";
    m_manager.performSwap(m_current, m_staged, stagingDir());
    chattr(QStringLiteral("-i"), applications());
    EXPECT_EQ(m_manager.phase(),
              UpdatePhase::error(QStringLiteral("Downloaded Vorlik Desktop.app, but ") + applications()
                                 + QStringLiteral(" is not writable. Copy Vorlik Desktop from ") + stagingDir()
                                 + QStringLiteral(" to a folder you can write to.")));
    EXPECT_EQ(test::snapshot(m_current), m_before);
    EXPECT_TRUE(QFileInfo::exists(m_staged));
    EXPECT_EQ(test::tempEntries(QStringLiteral("vorlik-install-")), QStringList());
}

TEST_F(SwapTest, AHelperThatCannotBeWrittenLeavesTheNewVersionInPlace)
{
    qputenv("TMPDIR", QFile::encodeName(m_temp.filePath(QStringLiteral("gone"))));
    m_manager.performSwap(m_current, m_staged, stagingDir());
    EXPECT_EQ(m_manager.phase().kind, UpdatePhase::Kind::error);
    EXPECT_TRUE(m_manager.phase().message.startsWith(QStringLiteral("Install failed: "))) << m_manager.phase().message.toStdString();
    // The swap had happened: the new version starts next time.
    EXPECT_EQ(test::snapshot(m_current), test::snapshot(m_staged));
    EXPECT_FALSE(QFileInfo::exists(backup()));
}

TEST(FileTreeTest, RemovesReadOnlyTreesAndRefusesToCopyOntoSomething)
{
    QTemporaryDir root;
    const QString tree = test::makeBundle(root.path(), {}, "x");
    FileTree::makeReadOnly(tree);
    EXPECT_FALSE(QFileInfo(tree + QStringLiteral("/Contents")).permission(QFileDevice::WriteOwner));
    EXPECT_THROW(FileTree::copy(tree, root.path()), vorlik::Failure);
    EXPECT_TRUE(FileTree::remove(tree));
    EXPECT_FALSE(QFileInfo::exists(tree));
    EXPECT_TRUE(FileTree::remove(root.filePath(QStringLiteral("never-there"))));
}

} // namespace
