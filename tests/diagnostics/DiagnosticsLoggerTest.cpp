// The opt-in log on real files: masking, the buffer bound, rotation, the order of the last
// lines before a close, the export, and a log that never fails its caller.
#include "diagnostics/DiagnosticsLogger.h"

#include "platform/Settings.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <atomic>
#include <thread>

#include <sys/stat.h>

using vorlik::diagnostics::DiagnosticsLogger;
using vorlik::platform::Settings;
namespace test = vorlik::test;

namespace {

// The start line is logged from inside the worker, behind whatever was queued with it: one
// drain lets it be queued, the snapshot after that sees it.
QStringList settledBuffer(DiagnosticsLogger &logger)
{
    logger.drain();
    return logger.bufferSnapshot();
}

// A logger of its own: settings file and log folder in a private folder, no echo.
class Logger {
public:
    explicit Logger(bool enabled = true)
        : m_settings(m_folder.filePath(QStringLiteral("settings.conf"))),
          m_logs(m_folder.filePath(QStringLiteral("Logs"))),
          m_logger(m_settings, m_logs, false)
    {
        m_settings.setValue(QStringLiteral("vorlikDiag"), enabled);
    }

    DiagnosticsLogger &operator*() { return m_logger; }
    DiagnosticsLogger *operator->() { return &m_logger; }
    Settings &settings() { return m_settings; }
    QString logs() const { return m_logs; }
    QString file(const QString &suffix = {}) const { return m_logger.logFilePath() + suffix; }
    QString scratch(const QString &name) const { return m_folder.filePath(name); }

private:
    QTemporaryDir m_folder;
    Settings m_settings;
    QString m_logs;
    DiagnosticsLogger m_logger;
};

// The message part of log lines ("… [category] message\n" → "[category] message").
QStringList messages(const QStringList &lines)
{
    QStringList out;
    for (const QString &line : lines)
        out << line.mid(24).chopped(1);
    return out;
}

QStringList fileMessages(const QString &path)
{
    return messages(QString::fromUtf8(test::readFile(path)).split(QLatin1Char('\n'), Qt::SkipEmptyParts)
                        .replaceInStrings(QRegularExpression(QStringLiteral("$")), QStringLiteral("\n")));
}

TEST(Redaction, MasksTheNamedQueryMembersOnly)
{
    struct Case {
        const char *message;
        const char *logged;
    };
    const Case cases[] = {
        {"GET /v1/x?api_key=abc&page=2&Token=q", "GET /v1/x?api_key=[redacted]&page=2&token=[redacted]"},
        {"POST /a?x=1&&y=2&", "POST /a?x=1&y=2"},
        {"Authorization=abc", "Authorization=abc"},
        {"GET /p?KEY", "GET /p?key=[redacted]"},
        {"GET /p?a=1?token=2&b", "GET /p?a=1?token=2&b"},
        {"?apikey=1&client_key=2&signature=3&sig=4&password=5&authorization=6&session_id=7&access_token=8"
         "&refresh_token=9&keys=10",
         "?apikey=[redacted]&client_key=[redacted]&signature=[redacted]&sig=[redacted]&password=[redacted]"
         "&authorization=[redacted]&session_id=[redacted]&access_token=[redacted]&refresh_token=[redacted]&keys=10"},
        {"GET /p?", "GET /p?"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(DiagnosticsLogger::redact(QString::fromUtf8(c.message)), QString::fromUtf8(c.logged)) << c.message;
}

TEST(Redaction, CutsLongMessagesBeforeMasking)
{
    const QString longText(5000, QLatin1Char('a'));
    EXPECT_EQ(DiagnosticsLogger::redact(longText), QString(4096, QLatin1Char('a')) + QStringLiteral("…"));
    // A query within the limit is masked; one cut off by the limit is gone before the masking looks.
    const QString within = QString(4080, QLatin1Char('b')) + QStringLiteral("?token=secret");
    EXPECT_EQ(DiagnosticsLogger::redact(within), QString(4080, QLatin1Char('b')) + QStringLiteral("?token=[redacted]"));
    const QString cut = QString(4095, QLatin1Char('b')) + QStringLiteral("?token=secret");
    EXPECT_EQ(DiagnosticsLogger::redact(cut), QString(4095, QLatin1Char('b')) + QStringLiteral("?…"));

    // The limit counts characters as a reader sees them, and never cuts inside one.
    const QString emoji = QStringLiteral("\U0001F3B5");               // two UTF-16 units
    const QString flag = QStringLiteral("\U0001F1E9\U0001F1EA");      // four
    const QString accented = QStringLiteral("e\u0301");               // two
    for (const QString &character : {emoji, flag, accented}) {
        EXPECT_EQ(DiagnosticsLogger::redact(character.repeated(4096)), character.repeated(4096));
        EXPECT_EQ(DiagnosticsLogger::redact(character.repeated(4097)), character.repeated(4096) + QStringLiteral("…"));
        EXPECT_EQ(DiagnosticsLogger::redact(QStringLiteral("a") + character.repeated(4096)),
                  QStringLiteral("a") + character.repeated(4095) + QStringLiteral("…"));
    }
    // A line stays bounded, whatever a message is made of: characters of many parts are kept
    // whole up to 16384 UTF-16 units, and one "character" longer than that (a letter with
    // endless combining marks) is cut between code points.
    const QString family = QStringLiteral("\U0001F468\u200D\U0001F469\u200D\U0001F467\u200D\U0001F466"); // 11 units
    const QString families = DiagnosticsLogger::redact(family.repeated(4096));
    EXPECT_EQ(families, family.repeated(16384 / 11) + QStringLiteral("…"));
    const QString endless = DiagnosticsLogger::redact(QStringLiteral("a") + QString(100000, QChar(0x0301)) + QStringLiteral("\U0001F3B5"));
    EXPECT_EQ(endless, QStringLiteral("a") + QString(16383, QChar(0x0301)) + QStringLiteral("…"));
    const QString pairs = DiagnosticsLogger::redact(QStringLiteral("a") + QStringLiteral("\U000E0100").repeated(50000));
    EXPECT_EQ(pairs, QStringLiteral("a") + QStringLiteral("\U000E0100").repeated(8191) + QStringLiteral("…"));
}

TEST(DiagnosticsLogger, ALogCallNeverWaitsForASettingsWrite)
{
    Logger logger;
    // Another holder of the settings file's lock keeps the next write of a setting waiting in
    // its sync, holding the store, as a slow disk would.
    QLockFile busy(logger.scratch(QStringLiteral("settings.conf.lock")));
    ASSERT_TRUE(busy.lock());
    std::thread writer([&] { logger.settings().setValue(QStringLiteral("exportLocation"), QStringLiteral("custom")); });
    // A reader of the settings that stops getting through shows that the write holds the store.
    std::atomic<qint64> reads = 0;
    std::atomic<bool> stop = false;
    std::thread reader([&] {
        while (!stop) {
            logger.settings().contains(QStringLiteral("probe"));
            ++reads;
        }
    });
    qint64 seen = -1;
    QDeadlineTimer quiet(300);
    for (QDeadlineTimer cap(20000); !cap.hasExpired() && !(reads == seen && quiet.hasExpired()); QThread::msleep(10)) {
        if (reads != seen) {
            seen = reads;
            quiet.setRemainingTime(300);
        }
    }

    std::atomic<bool> logged = false;
    std::thread caller([&] {
        logger->log(QStringLiteral("test"), QStringLiteral("while the settings are busy"));
        logged = true;
    });
    for (QDeadlineTimer cap(20000); !logged && !cap.hasExpired();)
        QThread::msleep(5);
    EXPECT_TRUE(logged) << "log() waited for the settings write";
    stop = true;
    busy.unlock();
    writer.join();
    reader.join();
    caller.join();
    EXPECT_TRUE(messages(settledBuffer(*logger)).contains(QStringLiteral("[test] while the settings are busy")));
}

TEST(DiagnosticsLogger, OffLogsNothingAndMakesNoFile)
{
    Logger logger(false);
    logger->startIfEnabled();
    logger->log(QStringLiteral("api"), QStringLiteral("GET /x"));
    EXPECT_TRUE(logger->bufferSnapshot().isEmpty());
    EXPECT_FALSE(QFileInfo::exists(logger.logs()));
}

TEST(DiagnosticsLogger, LinesCarryTimestampCategoryAndMaskedMessage)
{
    Logger logger;
    logger->startIfEnabled();
    logger->log(QStringLiteral("api"), QStringLiteral("GET /v1/x?token=abc"));
    const QStringList buffer = settledBuffer(*logger);
    ASSERT_EQ(buffer.size(), 2);
    // The start line is queued from inside the worker, so it may land on either side of a line
    // logged right after the start.
    const qsizetype api = buffer.at(0).contains(QStringLiteral(" [api] ")) ? 0 : 1;
    EXPECT_TRUE(QRegularExpression(QStringLiteral(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[api\] GET /v1/x\?token=\[redacted\]\n$)"))
                    .match(buffer.at(api))
                    .hasMatch())
        << buffer.at(api).toStdString();
    EXPECT_EQ(messages(buffer).at(1 - api),
              QStringLiteral("[diagnostics] session started — ") + DiagnosticsLogger::environmentLine());
    logger->stop();
    logger->drain();
    EXPECT_EQ(QString::fromUtf8(test::readFile(logger.file())), buffer.join(QString()));
}

TEST(DiagnosticsLogger, BufferKeepsTheNewest20000Lines)
{
    Logger logger;
    for (int i = 1; i <= 20001; ++i)
        logger->log(QStringLiteral("t"), QString::number(i));
    const QStringList buffer = messages(logger->bufferSnapshot());
    ASSERT_EQ(buffer.size(), 20000);
    EXPECT_EQ(buffer.first(), QStringLiteral("[t] 2"));
    EXPECT_EQ(buffer.last(), QStringLiteral("[t] 20001"));
}

TEST(DiagnosticsLogger, AFileOf5MiBRotatesAtTheNextLineAndNotBefore)
{
    Logger logger;
    QDir().mkpath(logger.logs());
    test::writeFile(logger.file(), QByteArray(5242880, 'x'));
    test::writeFile(logger.file(QStringLiteral(".1")), "older\n");
    test::writeFile(logger.file(QStringLiteral(".2")), "oldest\n");
    logger->startIfEnabled();
    logger->log(QStringLiteral("t"), QStringLiteral("after"));
    logger->drain();
    logger->stop();
    logger->drain();

    // The first line rotated the full file away and both lines sit in the new one.
    EXPECT_EQ(test::readFile(logger.file(QStringLiteral(".2"))), QByteArray("older\n"));
    EXPECT_EQ(test::readFile(logger.file(QStringLiteral(".1"))), QByteArray(5242880, 'x'));
    const QStringList lines = fileMessages(logger.file());
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines.contains(QStringLiteral("[t] after")));
    EXPECT_EQ(lines.filter(QStringLiteral("[diagnostics] session started")).size(), 1);

    // One byte less is not full.
    Logger below;
    QDir().mkpath(below.logs());
    test::writeFile(below.file(), QByteArray(5242879, 'x'));
    below->startIfEnabled();
    settledBuffer(*below);
    below->stop();
    below->drain();
    EXPECT_FALSE(QFileInfo::exists(below.file(QStringLiteral(".1"))));
    EXPECT_GT(QFileInfo(below.file()).size(), 5242879);
}

TEST(DiagnosticsLogger, FinalLogReachesTheFileBeforeItClosesButNotTheBuffer)
{
    Logger logger;
    logger->startIfEnabled();
    logger->log(QStringLiteral("diagnostics"), QStringLiteral("enabled from Preferences"));
    logger.settings().setValue(QStringLiteral("vorlikDiag"), false);
    logger->finalLog(QStringLiteral("diagnostics"), QStringLiteral("disabled from Preferences"));
    logger->stop();
    logger->log(QStringLiteral("diagnostics"), QStringLiteral("never written"));
    logger->drain();

    const QStringList lines = fileMessages(logger.file());
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_EQ(lines.last(), QStringLiteral("[diagnostics] disabled from Preferences"));
    EXPECT_FALSE(messages(logger->bufferSnapshot()).contains(QStringLiteral("[diagnostics] disabled from Preferences")));
    EXPECT_FALSE(lines.contains(QStringLiteral("[diagnostics] never written")));
}

TEST(DiagnosticsLogger, ExportCarriesTheEarlierSessionTailWhenThereIsOne)
{
    Logger logger;
    logger->log(QStringLiteral("t"), QStringLiteral("one"));
    const QString target = logger.scratch(QStringLiteral("export.txt"));
    ASSERT_TRUE(logger->exportTXT(target));
    QString text = QString::fromUtf8(test::readFile(target));
    EXPECT_TRUE(text.startsWith(QStringLiteral("Vorlik Log — ")));
    const QStringList lines = text.split(QLatin1Char('\n'));
    EXPECT_EQ(lines.at(1), DiagnosticsLogger::environmentLine());
    EXPECT_EQ(lines.at(4), QStringLiteral("--- Current session (last 20000 lines, may be truncated) ---"));
    EXPECT_FALSE(text.contains(QStringLiteral("Earlier session")));
    EXPECT_TRUE(text.endsWith(QStringLiteral(" [t] one\n")));

    QDir().mkpath(logger.logs());
    const QByteArray earlier = QByteArray(999, 'e') + '\n';
    test::writeFile(logger.file(QStringLiteral(".1")), earlier);
    ASSERT_TRUE(logger->exportTXT(target));
    EXPECT_TRUE(QString::fromUtf8(test::readFile(target))
                    .contains(QStringLiteral("--- Earlier session (last 5120 KB of previous logs, may be truncated) ---\n\n")
                              + QString::fromLatin1(earlier) + QStringLiteral("\n--- Current session")));

    // An undecodable rotated file gives way to the older one.
    test::writeFile(logger.file(QStringLiteral(".1")), QByteArray("\xff\xfe not text"));
    test::writeFile(logger.file(QStringLiteral(".2")), QByteArray("from the second file\n"));
    ASSERT_TRUE(logger->exportTXT(target));
    text = QString::fromUtf8(test::readFile(target));
    EXPECT_TRUE(text.contains(QStringLiteral("---\n\nfrom the second file\n\n--- Current session")));
    EXPECT_FALSE(text.contains(QStringLiteral("not text")));

    EXPECT_FALSE(logger->exportTXT(logger.scratch(QStringLiteral("no-such-folder/export.txt"))));
}

TEST(DiagnosticsLogger, NeverFailsItsCaller)
{
    {   // The log folder cannot be made: lines still reach the buffer.
        Logger logger;
        test::writeFile(logger.logs(), "a file where the folder should be");
        logger->startIfEnabled();
        logger->log(QStringLiteral("t"), QStringLiteral("kept"));
        EXPECT_TRUE(messages(settledBuffer(*logger)).contains(QStringLiteral("[t] kept")));
    }
    {   // The file is deleted while open: logging goes on.
        Logger logger;
        logger->startIfEnabled();
        settledBuffer(*logger);
        ASSERT_TRUE(QFile::remove(logger.file()));
        for (int i = 0; i < 100; ++i)
            logger->log(QStringLiteral("t"), QString::number(i));
        EXPECT_EQ(logger->bufferSnapshot().size(), 101);
    }
    {   // A full disk: /dev/full refuses every write.
        if (QFileInfo::exists(QStringLiteral("/dev/full"))) {
            Logger logger;
            QDir().mkpath(logger.logs());
            ASSERT_TRUE(QFile::link(QStringLiteral("/dev/full"), logger.file()));
            logger->startIfEnabled();
            logger->log(QStringLiteral("t"), QStringLiteral("lost on disk, kept in memory"));
            EXPECT_EQ(settledBuffer(*logger).size(), 2);
        }
    }
}

} // namespace
