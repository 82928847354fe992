#pragma once
// What the updater's tests share: one HTTPS stand-in service per test binary that serves an
// updates folder, bundles and images made on disk, and a look at the "update" log lines.
#include "app/ActiveJobs.h"
#include "platform/Settings.h"
#include "tests/support/TestArchive.h"
#include "tests/support/UpdateServer.h"
#include "update/UpdateError.h"
#include "update/UpdateManager.h"

#include <gtest/gtest.h>

#include <QTest>

#include <ostream>

namespace vorlik::update {
// Readable test output: "error(The update link is invalid.)".
inline void PrintTo(const UpdatePhase &phase, std::ostream *out) { *out << phase.debugText().toStdString(); }
} // namespace vorlik::update

namespace vorlik::test {

// An Info.plist's members; an absent optional is left out of the file.
struct BundleInfo {
    std::optional<QString> identifier = QStringLiteral("com.vorlik.desktop");
    std::optional<QString> shortVersion = QStringLiteral("1.2.25");
    std::optional<QString> build = QStringLiteral("28");
    QString executable = QStringLiteral("vorlik");
    bool binary = false; // a binary property list instead of XML
};
QByteArray infoPlist(const BundleInfo &info);
// An XML property list rewritten in the binary format.
QByteArray toBinaryPlist(const QByteArray &xml);
// "<folder>/Vorlik Desktop.app" with Info.plist, Contents/MacOS/<executable> (a script that
// prints `marker`) and Resources/notes.txt.
QString makeBundle(const QString &folder, const BundleInfo &info, const QByteArray &marker = "new");
// The entries of an update image holding "<top>/Contents" with Info.plist, MacOS/vorlik (a
// script that prints "new"), Resources/notes.txt and a link beside it; `extra` follow them.
std::vector<ArchiveEntry> imageEntries(const BundleInfo &info = {}, std::vector<ArchiveEntry> extra = {},
                                       const QByteArray &top = "Vorlik Desktop.app");
// Every file below a folder with its content (links as "-> target"), for before/after checks.
QMap<QString, QByteArray> snapshot(const QString &folder);

// A description of the given release without an image.
update::Manifest release(const QString &version = QStringLiteral("1.2.25"), qint64 build = 28,
                         const std::optional<QString> &minMacos = std::nullopt);
// A manifest for an image in the updates folder: its digest, and a dmg URL on the server.
// The release is 1.2.25 (build 28); `query` is added to the URL.
update::Manifest manifestFor(const QString &imageName, const QString &query = {});
void writeLatest(const QByteArray &json);

// Turns the diagnostics log on (standard settings) and returns the "update" lines logged
// since the last call.
QStringList takeUpdateLogLines();

// Entries of the temporary folder (TMPDIR) whose names start with `prefix`.
QStringList tempEntries(const QString &prefix);

// The code of the UpdateError `step` throws (its text in `text`), 0 when it throws none.
template <typename Step> int updateErrorCode(Step step, QString *text = nullptr)
{
    try {
        step();
    } catch (const update::UpdateError &error) {
        if (text)
            *text = error.description();
        return error.code();
    }
    return 0;
}

// A private TMPDIR for each test.
class PrivateTemp : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    QTemporaryDir m_temp;
    QByteArray m_savedTmp;
};

// An update manager of its own, with the shared server as the service, no stored check and no
// manifest override, for a copy that updates itself; every phase it passes is in m_phases.
class ManagerTest : public PrivateTemp {
protected:
    void SetUp() override;
    app::ActiveJobs m_jobs;
    update::UpdateManager m_manager{platform::Settings::standard(), m_jobs};
    QList<update::UpdatePhase> m_phases;
};

} // namespace vorlik::test
