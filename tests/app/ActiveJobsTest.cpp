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
    jobs.begin(QString::fromLatin1("Analysis")); // on the heap, unlike a literal: freed when the set lets it go
    EXPECT_EQ(jobs.runningKeys(), (QSet<QString>{"Conversion", "Analysis"}));
    jobs.end(QStringLiteral("Conversion"));
    // A key never begun changes nothing, but the request is still logged.
    jobs.end(QStringLiteral("Export"));
    EXPECT_EQ(jobs.runningKeys(), QSet<QString>{QStringLiteral("Analysis")});
    jobs.end(*jobs.runningKeys().cbegin()); // the set's own element, which its removal frees
    EXPECT_EQ(changed.count(), 4);
    EXPECT_EQ(log.lines(), (QStringList{"active job started: Conversion (now 1)", "active job started: Analysis (now 2)",
                                        "active job ended: Conversion (now 1)", "active job ended: Export (now 1)",
                                        "active job ended: Analysis (now 0)"}));
    vorlik::platform::Settings::standard().setValue(QStringLiteral("vorlikDiag"), false);
}
