#include "app/ActiveJobs.h"

#include "platform/Settings.h"
#include "tests/support/LogLines.h"

#include <gtest/gtest.h>

#include <QSignalSpy>

using vorlik::app::ActiveJobs;

TEST(ActiveJobsTest, BeginAndEndKeepTheSetAndLogTheCount)
{
    vorlik::platform::Settings::standard().setValue(QStringLiteral("vorlikDiag"), true);
    vorlik::test::LogLines log(QStringLiteral("app"));
    ActiveJobs jobs;
    QSignalSpy changed(&jobs, &ActiveJobs::runningKeysChanged);
    jobs.begin(QStringLiteral("Conversion"));
    jobs.begin(QStringLiteral("Analysis"));
    EXPECT_EQ(jobs.runningKeys(), (QSet<QString>{"Conversion", "Analysis"}));
    jobs.end(QStringLiteral("Conversion"));
    // A key never begun changes nothing, but the request is still logged.
    jobs.end(QStringLiteral("Export"));
    EXPECT_EQ(jobs.runningKeys(), QSet<QString>{QStringLiteral("Analysis")});
    EXPECT_EQ(changed.count(), 3);
    EXPECT_EQ(log.lines(), (QStringList{"active job started: Conversion (now 1)", "active job started: Analysis (now 2)",
                                        "active job ended: Conversion (now 1)", "active job ended: Export (now 1)"}));
    vorlik::platform::Settings::standard().setValue(QStringLiteral("vorlikDiag"), false);
}
