// The registry of running work: what it holds, what it signals and what it logs.
#include "app/ActiveJobs.h"

#include "diagnostics/DiagnosticsLogger.h"
#include "platform/Settings.h"

#include <gtest/gtest.h>

#include <QSignalSpy>

using vorlik::app::ActiveJobs;
using vorlik::diagnostics::DiagnosticsLogger;
using vorlik::platform::Settings;

namespace {

// The "app" lines the shared log received since `mark` (lines carry a timestamp first).
QStringList appLinesSince(qsizetype mark)
{
    QStringList lines;
    const QStringList buffer = DiagnosticsLogger::shared().bufferSnapshot();
    for (qsizetype i = mark; i < buffer.size(); ++i) {
        const qsizetype at = buffer.at(i).indexOf(QStringLiteral(" [app] "));
        if (at >= 0)
            lines << buffer.at(i).mid(at + 7).chopped(1);
    }
    return lines;
}

class ActiveJobsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Settings::standard().setValue(QStringLiteral("vorlikDiag"), true);
        m_mark = DiagnosticsLogger::shared().bufferSnapshot().size();
    }
    void TearDown() override { Settings::standard().setValue(QStringLiteral("vorlikDiag"), false); }
    qsizetype m_mark = 0;
};

TEST_F(ActiveJobsTest, beginAndEndKeepTheSetAndLogTheCount)
{
    ActiveJobs jobs;
    QSignalSpy changed(&jobs, &ActiveJobs::runningKeysChanged);
    jobs.begin(QStringLiteral("Conversion"));
    jobs.begin(QStringLiteral("Analysis"));
    EXPECT_EQ(jobs.runningKeys(), (QSet<QString>{QStringLiteral("Conversion"), QStringLiteral("Analysis")}));
    jobs.end(QStringLiteral("Conversion"));
    EXPECT_EQ(jobs.runningKeys(), QSet<QString>{QStringLiteral("Analysis")});
    EXPECT_EQ(changed.count(), 3);
    EXPECT_EQ(appLinesSince(m_mark), (QStringList{QStringLiteral("active job started: Conversion (now 1)"),
                                                  QStringLiteral("active job started: Analysis (now 2)"),
                                                  QStringLiteral("active job ended: Conversion (now 1)")}));
}

TEST_F(ActiveJobsTest, endingAKeyNeverBegunChangesNothingButStillLogs)
{
    ActiveJobs jobs;
    jobs.begin(QStringLiteral("Analysis"));
    QSignalSpy changed(&jobs, &ActiveJobs::runningKeysChanged);
    jobs.end(QStringLiteral("Conversion"));
    EXPECT_EQ(jobs.runningKeys(), QSet<QString>{QStringLiteral("Analysis")});
    EXPECT_EQ(changed.count(), 0);
    EXPECT_EQ(appLinesSince(m_mark).last(), QStringLiteral("active job ended: Conversion (now 1)"));
}

TEST_F(ActiveJobsTest, theSharedRegistryIsOneInstance)
{
    EXPECT_EQ(&ActiveJobs::shared(), &ActiveJobs::shared());
    EXPECT_TRUE(ActiveJobs::shared().runningKeys().isEmpty());
}

} // namespace
