#pragma once
// Shared by the convert runner tests: the stand-in service and a store connected to it, a
// private folder of real media, and waiting for a run to end.
#include "TestMedia.h"

#include "convert/ConvertRunner.h"
#include "platform/Settings.h"
#include "service/SessionStore.h"
#include "tests/service/SessionTestSupport.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <thread>

namespace vorlik::test {

// Lets the event loop run until done() holds; false when it did not within the cap (generous:
// it only ends a test that would otherwise hang).
inline bool waitUntil(const std::function<bool()> &done, int capMs = 120000)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > capMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    return true;
}

// Ends the test binary with a message when a call does not return within the cap: a runner that
// spins without ever reaching the event loop cannot be caught by waitUntil.
class HangGuard {
public:
    explicit HangGuard(const char *what, int capMs = 60000)
        : m_watch([this, what, capMs] {
              std::unique_lock lock(m_mutex);
              if (!m_done.wait_for(lock, std::chrono::milliseconds(capMs), [this] { return m_disarmed; })) {
                  std::fprintf(stderr, "hung: %s\n", what);
                  std::abort();
              }
          })
    {
    }
    ~HangGuard()
    {
        {
            std::lock_guard lock(m_mutex);
            m_disarmed = true;
        }
        m_done.notify_one();
        m_watch.join();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_done;
    bool m_disarmed = false;
    std::thread m_watch;
};

class RunnerFixture : public SessionTest {
protected:
    void SetUp() override
    {
        SessionTest::SetUp();
        platform::Settings &settings = platform::Settings::standard();
        settings.remove(QStringLiteral("exportLocation"));
        settings.remove(QStringLiteral("exportFolderPath"));
        ASSERT_TRUE(m_dir.isValid());
        connectDemo(m_store);
    }

    QString path(const QString &relative) const { return m_dir.filePath(relative); }
    QString folder(const QString &relative) const
    {
        QDir().mkpath(path(relative));
        return path(relative);
    }
    QString tone(const QString &relative, double seconds = 0.3) const
    {
        QDir().mkpath(QFileInfo(path(relative)).path());
        return TestMedia::sine(path(relative), seconds);
    }

    // The service's preset with that id.
    service::Preset preset(const QString &id) const
    {
        for (const service::Preset &candidate : m_store.presets()) {
            if (candidate.id == id)
                return candidate;
        }
        ADD_FAILURE() << "the service has no preset " << id.toStdString();
        return {};
    }

    // Runs the queue to its end with the given presets, ffmpeg and store.
    static bool runToEnd(convert::ConvertRunner &runner, const QList<service::Preset> &presets,
                         const QString &ffmpeg, service::SessionStore *store)
    {
        runner.run(presets, ffmpeg, store);
        return waitUntil([&] { return !runner.isRunning(); });
    }
    bool runToEnd(convert::ConvertRunner &runner, const QList<service::Preset> &presets)
    {
        return runToEnd(runner, presets, TestMedia::ffmpeg(), &m_store);
    }

    // Every entry of a folder, hidden ones included, by name.
    static QStringList entries(const QString &folder)
    {
        return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    }
    // Temporary outputs left in a folder.
    static QStringList leftovers(const QString &folder)
    {
        return entries(folder).filter(QStringLiteral(".vorlik-tmp-"));
    }

    static const convert::QueueItem &only(const convert::ConvertRunner &runner)
    {
        EXPECT_EQ(runner.items().size(), 1);
        return runner.items().first();
    }

    service::SessionStore m_store;
    QTemporaryDir m_dir;
};

} // namespace vorlik::test
