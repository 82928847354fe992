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

using vorlik::diagnostics::DiagnosticsLogger;
using vorlik::platform::Settings;
using vorlik::test::readFile;
using vorlik::test::writeFile;

namespace {

// A logger of its own: settings file and log folder in a private folder, no echo.
class Logger {
public:
    explicit Logger(bool enabled = true)
        : m_settings(m_folder.filePath("settings.conf")), m_logs(m_folder.filePath("Logs")), m_logger(m_settings, m_logs, false)
    {
        m_settings.setValue("vorlikDiag", enabled);
    }
    DiagnosticsLogger *operator->() { return &m_logger; }
    Settings &settings() { return m_settings; }
    QString logs() const { return m_logs; }
    QString file(const QString &suffix = {}) const { return m_logger.logFilePath() + suffix; }
    QString scratch(const QString &name) const { return m_folder.filePath(name); }
    // The start line is logged from inside the worker, behind whatever was queued with it: one
    // drain lets it be queued, the snapshot after that sees it.
    QStringList settled() { m_logger.drain(); return m_logger.bufferSnapshot(); }

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
        out << line.mid(24).chopped(line.endsWith(u'\n') ? 1 : 0);
    return out;
}

QStringList fileMessages(const QString &path) { return messages(QString::fromUtf8(readFile(path)).split(u'\n', Qt::SkipEmptyParts)); }

TEST(Redaction, MasksTheNamedQueryMembersOnly)
{
    const char *cases[][2] = {
        {"GET /v1/x?api_key=abc&page=2&Token=q", "GET /v1/x?api_key=[redacted]&page=2&token=[redacted]"},
        {"POST /a?x=1&&y=2&", "POST /a?x=1&y=2"}, {"Authorization=abc", "Authorization=abc"}, {"GET /p?KEY", "GET /p?key=[redacted]"},
        {"GET /p?a=1?token=2&b", "GET /p?a=1?token=2&b"}, {"GET /p?", "GET /p?"},
        {"?apikey=1&client_key=2&signature=3&sig=4&password=5&authorization=6&session_id=7&access_token=8&refresh_token=9&keys=10",
         "?apikey=[redacted]&client_key=[redacted]&signature=[redacted]&sig=[redacted]&password=[redacted]"
         "&authorization=[redacted]&session_id=[redacted]&access_token=[redacted]&refresh_token=[redacted]&keys=10"},
    };
    for (const auto &[message, logged] : cases)
        EXPECT_EQ(DiagnosticsLogger::redact(message), QString::fromUtf8(logged)) << message;
}

TEST(Redaction, CutsLongMessagesBeforeMasking)
{
    EXPECT_EQ(DiagnosticsLogger::redact(QString(5000, u'a')), QString(4096, u'a') + "…");
    // A query within the limit is masked; one cut off by the limit is gone before the masking looks.
    EXPECT_EQ(DiagnosticsLogger::redact(QString(4080, u'b') + "?token=secret"), QString(4080, u'b') + "?token=[redacted]");
    EXPECT_EQ(DiagnosticsLogger::redact(QString(4095, u'b') + "?token=secret"), QString(4095, u'b') + "?…");
    // The limit counts characters as a reader sees them, and never cuts inside one: an emoji
    // (two UTF-16 units), a flag (four), an accented letter (two).
    for (const QString &character : {QStringLiteral("\U0001F3B5"), QStringLiteral("\U0001F1E9\U0001F1EA"), QStringLiteral("e\u0301")}) {
        EXPECT_EQ(DiagnosticsLogger::redact(character.repeated(4096)), character.repeated(4096));
        EXPECT_EQ(DiagnosticsLogger::redact(character.repeated(4097)), character.repeated(4096) + "…");
        EXPECT_EQ(DiagnosticsLogger::redact("a" + character.repeated(4096)), "a" + character.repeated(4095) + "…");
    }
    // A line stays bounded, whatever a message is made of: characters of many parts are kept
    // whole up to 16384 UTF-16 units, and one "character" longer than that (a letter with
    // endless combining marks) is cut between code points.
    const QString family = QStringLiteral("\U0001F468\u200D\U0001F469\u200D\U0001F467\u200D\U0001F466"); // 11 units
    EXPECT_EQ(DiagnosticsLogger::redact(family.repeated(4096)), family.repeated(16384 / 11) + "…");
    EXPECT_EQ(DiagnosticsLogger::redact("a" + QString(100000, QChar(0x0301)) + QStringLiteral("\U0001F3B5")),
              "a" + QString(16383, QChar(0x0301)) + "…");
    EXPECT_EQ(DiagnosticsLogger::redact("a" + QStringLiteral("\U000E0100").repeated(50000)),
              "a" + QStringLiteral("\U000E0100").repeated(8191) + "…");
}

TEST(DiagnosticsLogger, ALogCallNeverWaitsForASettingsWrite)
{
    Logger logger;
    // Another holder of the settings file's lock keeps the next write of a setting waiting in
    // its sync, holding the store, as a slow disk would.
    QLockFile busy(logger.scratch("settings.conf.lock"));
    ASSERT_TRUE(busy.lock());
    std::thread writer([&] { logger.settings().setValue("exportLocation", "custom"); });
    // A reader of the settings that stops getting through shows that the write holds the store.
    std::atomic<qint64> reads = 0;
    std::atomic<bool> stop = false;
    std::thread reader([&] {
        for (; !stop; ++reads)
            logger.settings().contains("probe");
    });
    for (qint64 seen = -1, looks = 0; seen != reads && looks < 60; ++looks, QThread::msleep(300))
        seen = reads;
    std::atomic<bool> logged = false;
    std::thread caller([&] { logger->log("test", "while the settings are busy"); logged = true; });
    for (QDeadlineTimer cap(20000); !logged && !cap.hasExpired();)
        QThread::msleep(5);
    EXPECT_TRUE(logged) << "log() waited for the settings write";
    stop = true;
    busy.unlock();
    writer.join();
    reader.join();
    caller.join();
    EXPECT_TRUE(messages(logger.settled()).contains("[test] while the settings are busy"));
}

TEST(DiagnosticsLogger, OnlyWhileOnLinesCarryTimestampCategoryAndMaskedMessageAndAFinalOneClosesTheFile)
{
    Logger off(false);
    off->startIfEnabled();
    off->log("api", "GET /x");
    EXPECT_TRUE(off->bufferSnapshot().isEmpty());
    EXPECT_FALSE(QFileInfo::exists(off.logs()));

    Logger logger;
    logger->startIfEnabled();
    logger->log("api", "GET /v1/x?token=abc");
    const QStringList buffer = logger.settled();
    ASSERT_EQ(buffer.size(), 2);
    // The start line is queued from inside the worker, so it may land on either side of a line
    // logged right after the start.
    const qsizetype api = buffer.at(0).contains(" [api] ") ? 0 : 1;
    static const QRegularExpression line(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[api\] GET /v1/x\?token=\[redacted\]\n$)");
    EXPECT_TRUE(line.match(buffer.at(api)).hasMatch()) << buffer.at(api).toStdString();
    EXPECT_EQ(messages(buffer).at(1 - api), "[diagnostics] session started — " + DiagnosticsLogger::environmentLine());
    // The last line before a close reaches the file, but not the buffer, and nothing after it.
    logger.settings().setValue("vorlikDiag", false);
    logger->finalLog("diagnostics", "disabled from Preferences");
    logger->stop();
    logger->log("diagnostics", "never written");
    logger->drain();
    EXPECT_EQ(logger->bufferSnapshot(), buffer);
    EXPECT_EQ(fileMessages(logger.file()), messages(buffer) << "[diagnostics] disabled from Preferences");
    EXPECT_TRUE(QString::fromUtf8(readFile(logger.file())).startsWith(buffer.join(QString())));
}

TEST(DiagnosticsLogger, KeepsTheNewest20000LinesRotatesAFileOf5MiBAtTheNextLineAndExportsBoth)
{
    for (const qint64 size : {5242880, 5242879}) {
        const bool full = size == 5242880; // one byte less is not full: the start line goes on the end
        Logger logger;
        const QString target = logger.scratch("export.txt");
        const auto exported = [&] { return logger->exportTXT(target) ? QString::fromUtf8(readFile(target)) : QString(); };
        for (int i = 1; i <= 20001; ++i)
            logger->log("t", QString::number(i));
        const QStringList buffer = messages(logger->bufferSnapshot());
        EXPECT_EQ(buffer.size(), 20000);
        EXPECT_EQ(buffer.first(), "[t] 2");
        const QString first = exported();
        EXPECT_TRUE(first.startsWith("Vorlik Log — ")) << first.left(100).toStdString();
        EXPECT_EQ(first.split(u'\n').value(1), DiagnosticsLogger::environmentLine());
        EXPECT_EQ(first.split(u'\n').value(4), "--- Current session (last 20000 lines, may be truncated) ---");
        EXPECT_TRUE(first.endsWith(" [t] 20001\n"));

        QDir().mkpath(logger.logs());
        const QByteArray filled(size, 'x');
        writeFile(logger.file(), filled);
        writeFile(logger.file(".1"), "older\n");
        writeFile(logger.file(".2"), "oldest\n");
        logger->startIfEnabled();
        logger.settled();
        logger->drain(); // the start line was queued behind the first drain: this one writes it out
        EXPECT_EQ(readFile(logger.file(".1")), full ? filled : "older\n");
        EXPECT_EQ(readFile(logger.file(".2")), full ? "older\n" : "oldest\n");
        EXPECT_EQ(messages({QString::fromUtf8(readFile(logger.file()).mid(full ? 0 : size))}),
                  QStringList{"[diagnostics] session started — " + DiagnosticsLogger::environmentLine()});

        EXPECT_TRUE(exported().contains("--- Earlier session (last 5120 KB of previous logs, may be truncated) ---\n\n"
                                        + QString::fromLatin1(full ? filled : "older\n") + "\n--- Current session"));
        writeFile(logger.file(".1"), "\xff\xfe not text"); // gives way to the older file
        EXPECT_TRUE(exported().contains("---\n\n" + QString::fromLatin1(full ? "older\n" : "oldest\n") + "\n--- Current session"));
        EXPECT_FALSE(logger->exportTXT(logger.scratch("no-such-folder/export.txt")));
    }
}

TEST(DiagnosticsLogger, NeverFailsItsCaller)
{
    // A file where the log folder should be, or a full disk that refuses every write: lines
    // still reach the buffer.
    for (const bool fullDisk : {false, true}) {
        Logger logger;
        if (fullDisk)
            ASSERT_TRUE(QDir().mkpath(logger.logs()) && QFile::link("/dev/full", logger.file()));
        else
            writeFile(logger.logs(), "a file where the folder should be");
        logger->startIfEnabled();
        logger->log("t", "kept");
        EXPECT_TRUE(messages(logger.settled()).contains("[t] kept"));
    }
}

} // namespace
