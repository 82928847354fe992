#pragma once
// Shared by the convert runner and page tests: the stand-in service and a store connected to it,
// a private folder of real media, the export setting, and waiting for a run to end.
#include "TestMedia.h"

#include "convert/ConvertRunner.h"
#include "platform/Settings.h"
#include "service/SessionStore.h"
#include "tests/service/SessionTestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>
#include <QtCore/qtestsupport_core.h>

#include <optional>
#include <unistd.h>

namespace vorlik::test {

using namespace Qt::StringLiterals;

// How long a run may take before the test gives up on it (generous: it only ends a test that would
// otherwise hang).
constexpr int runCap = 120000;

// Ends the test binary (SIGALRM) when a call does not return within a minute: a runner that spins
// without ever reaching the event loop cannot be caught by a wait on the event loop.
struct HangGuard {
    HangGuard() { ::alarm(60); }
    ~HangGuard() { ::alarm(0); }
};

// Every status line a runner shows while this lives, in order.
class StatusLines : public QStringList {
public:
    explicit StatusLines(const convert::ConvertRunner &runner)
    {
        QObject::connect(&runner, &convert::ConvertRunner::statusLineChanged, &m_context,
                         [this, &runner] { append(runner.statusLine()); });
    }

private:
    QObject m_context;
};

// Outputs go to `folder` (the "customFolder" export setting), or beside each source for none.
inline void exportTo(const std::optional<QString> &folder)
{
    platform::Settings &settings = platform::Settings::standard();
    if (!folder) {
        settings.remove(u"exportLocation"_s);
        settings.remove(u"exportFolderPath"_s);
        return;
    }
    settings.setValue(u"exportLocation"_s, u"customFolder"_s);
    settings.setValue(u"exportFolderPath"_s, *folder);
}

// A preset with its own script, output extension ".wav" and suffix "_out".
inline service::Preset scripted(const QString &id, const QString &command)
{
    service::Preset preset;
    preset.id = preset.name = id;
    preset.suffix = u"_out"_s;
    preset.outputExt = u".wav"_s;
    preset.kind = u"normalise"_s;
    preset.command = command;
    return preset;
}
// Converts in real time, so that it runs until stopped.
inline service::Preset slow(const QString &id)
{
    return scripted(id, u"ffmpeg -hide_banner -nostdin -y -re -i \"{input}\" -c:a pcm_s16le \"{output_base}.wav\""_s);
}
inline service::Preset fast(const QString &id)
{
    return scripted(id, u"ffmpeg -hide_banner -nostdin -y -i \"{input}\" -c:a pcm_s16le \"{output_base}.wav\""_s);
}

class RunnerFixture : public SessionTest {
protected:
    void SetUp() override
    {
        SessionTest::SetUp();
        exportTo(std::nullopt);
        ASSERT_TRUE(m_dir.isValid());
        connectDemo(m_store);
    }
    void TearDown() override
    {
        exportTo(std::nullopt);
        SessionTest::TearDown();
    }

    QString path(const QString &relative) const { return m_dir.filePath(relative); }
    QString folder(const QString &relative) const { return QDir().mkpath(path(relative)), path(relative); }
    QString tone(const QString &relative, double seconds = 0.3) const
    {
        QDir().mkpath(QFileInfo(path(relative)).path());
        return TestMedia::sine(path(relative), seconds);
    }

    // Runs the queue to its end with the given presets, ffmpeg (the real one when empty) and store
    // (this test's when null).
    bool runToEnd(convert::ConvertRunner &runner, const QList<service::Preset> &presets,
                  const QString &ffmpeg = {}, service::SessionStore *store = nullptr)
    {
        runner.run(presets, ffmpeg.isEmpty() ? TestMedia::ffmpeg() : ffmpeg, store ? store : &m_store);
        return QTest::qWaitFor([&] { return !runner.isRunning(); }, runCap);
    }

    // Every entry of a folder, hidden ones included, by name.
    static QStringList entries(const QString &folder)
    {
        return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    }
    // Temporary outputs left in a folder.
    static QStringList leftovers(const QString &folder) { return entries(folder).filter(u".vorlik-tmp-"_s); }

    static const convert::QueueItem &only(const convert::ConvertRunner &runner)
    {
        EXPECT_EQ(runner.items().size(), 1);
        return runner.items().first();
    }

    service::SessionStore m_store;
    QTemporaryDir m_dir;
};

} // namespace vorlik::test
