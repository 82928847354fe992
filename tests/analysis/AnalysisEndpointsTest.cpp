// The analysis endpoints against the real stand-in service: upload (the body on the wire byte
// for byte, 413, answers without an id, a stop in the middle, no server), process, status
// polling to COMPLETED, the report download and cancel. Every upload must leave the temporary
// folder as it found it.
#include "analysis/AnalysisEndpoints.h"
#include "analysis/FileError.h"
#include "analysis/MultipartBody.h"
#include "platform/Settings.h"
#include "service/APIError.h"
#include "tests/analysis/TestAudio.h"
#include "tests/support/DevServer.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QCoroTimer>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkProxy>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSslConfiguration>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <type_traits>
#include <optional>
#include <ostream>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString &text, std::ostream *out) { *out << '"' << text.toStdString() << '"'; }
QT_END_NAMESPACE

using namespace vorlik;
using namespace vorlik::analysis;
using service::APIError;
using service::TransportError;
using test::DevServer;
using test::sineWAV;

namespace {

constexpr qint64 uploadLimit = 134217728;

// Whether the stand-in service started, found out once per binary; a server that does not
// start fails every test here.
const std::string &serviceStartFailure()
{
    static const std::string failure = [] {
        try {
            DevServer::shared();
        } catch (const std::exception &error) {
            return std::string(error.what());
        }
        return std::string();
    }();
    return failure;
}

// QCoro::waitFor (0.8) never returns when the task throws after it first suspended: the failure
// is caught inside a coroutine here and rethrown once the wait is over.
template <typename T>
T runTask(QCoro::Task<T> task)
{
    std::exception_ptr failure;
    if constexpr (std::is_void_v<T>) {
        test::run([](QCoro::Task<T> inner, std::exception_ptr &caught) -> QCoro::Task<> {
            try {
                co_await std::move(inner);
            } catch (...) {
                caught = std::current_exception();
            }
        }(std::move(task), failure));
        if (failure)
            std::rethrow_exception(failure);
    } else {
        std::optional<T> result = test::run([](QCoro::Task<T> inner, std::exception_ptr &caught) -> QCoro::Task<std::optional<T>> {
            try {
                co_return co_await std::move(inner);
            } catch (...) {
                caught = std::current_exception();
            }
            co_return std::nullopt;
        }(std::move(task), failure));
        if (failure)
            std::rethrow_exception(failure);
        return std::move(*result);
    }
}

template <typename Error, typename Make>
std::optional<Error> failureOf(Make make)
{
    try {
        runTask(make());
        ADD_FAILURE() << "the call succeeded";
    } catch (const Error &error) {
        return error;
    } catch (const std::exception &error) {
        ADD_FAILURE() << "failed with another error: " << describe(error).toStdString();
    }
    return std::nullopt;
}

QByteArray randomBytes(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(17);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char(generator.bounded(256));
    return bytes;
}

qsizetype openDescriptors()
{
    return QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size();
}

QString header(const QJsonObject &request, const QString &name)
{
    const QJsonObject headers = request.value(QStringLiteral("headers")).toObject();
    for (auto it = headers.begin(); it != headers.end(); ++it)
        if (it.key().compare(name, Qt::CaseInsensitive) == 0)
            return it.value().toString();
    return {};
}

// A one-connection HTTP peer on loopback that misbehaves in ways the stand-in service cannot:
// `answer` sees the bytes received so far and returns what to send back (empty: keep reading);
// each connection closes after its answer.
class TinyPeer : public QObject {
public:
    using Answer = std::function<QByteArray(const QByteArray &received)>;

    TinyPeer(Answer answer, qint64 readBufferBytes = 0) : m_answer(std::move(answer))
    {
        EXPECT_TRUE(m_server.listen(QHostAddress::LocalHost, 0));
        QObject::connect(&m_server, &QTcpServer::newConnection, this, [this, readBufferBytes] {
            QTcpSocket *socket = m_server.nextPendingConnection();
            // A small read buffer leaves the rest of the body unread in the kernel, so that the
            // close after the answer resets the connection, as a busy server's does.
            socket->setReadBufferSize(readBufferBytes);
            m_received.clear();
            QObject::connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
                if (socket->property("answered").toBool())
                    return;
                m_received += socket->readAll();
                const QByteArray reply = m_answer(m_received);
                if (reply.isEmpty())
                    return;
                socket->setProperty("answered", true);
                socket->write(reply);
                socket->disconnectFromHost();
            });
        });
    }

    quint16 port() const { return m_server.serverPort(); }
    const QByteArray &received() const { return m_received; }

private:
    QTcpServer m_server;
    Answer m_answer;
    QByteArray m_received; // of the latest connection
};

// A request is whole when its head and the body its Content-Length announces have arrived.
bool wholeRequest(const QByteArray &received)
{
    const qsizetype headEnd = received.indexOf("\r\n\r\n");
    if (headEnd < 0)
        return false;
    const QRegularExpressionMatch length = QRegularExpression(QStringLiteral("(?i)\r\ncontent-length: *(\\d+)"))
                                               .match(QString::fromLatin1(received.left(headEnd)));
    return length.hasMatch() && received.size() - headEnd - 4 >= length.captured(1).toLongLong();
}

class AnalysisEndpointsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(serviceStartFailure(), "");
        server().reset();
        server().useAsService();
        // A private temporary folder, so leftovers of this process's uploads are seen exactly.
        ASSERT_TRUE(m_temp.isValid());
        m_previousTemp = qgetenv("TMPDIR");
        qputenv("TMPDIR", m_temp.path().toUtf8());
        ASSERT_EQ(QDir::tempPath(), m_temp.path());
        if (m_bearer.isEmpty())
            m_bearer = activate();
    }

    void TearDown() override
    {
        if (serviceStartFailure().empty()) {
            EXPECT_EQ(leftovers(), QStringList()) << "an upload left its temporary file behind";
        }
        qputenv("TMPDIR", m_previousTemp);
    }

    static DevServer &server() { return DevServer::shared(); }

    static QString activate()
    {
        const QJsonObject fields{{QStringLiteral("api_key"), server().demoKey()},
                                 {QStringLiteral("installation_label"), QStringLiteral("Vorlik Desktop")}};
        const auto [status, body] =
            server().call("POST", QStringLiteral("/v1/auth/activate"), QJsonDocument(fields).toJson());
        EXPECT_EQ(status, 200) << body.toStdString();
        return QJsonDocument::fromJson(body).object().value(QStringLiteral("access_token")).toString();
    }

    QStringList leftovers() const { return QDir(m_temp.path()).entryList(QDir::Files | QDir::Hidden); }

    QUrl audioFile(const QString &name, const QByteArray &content)
    {
        const QString path = m_files.filePath(name);
        test::writeFile(path, content);
        return QUrl::fromLocalFile(path);
    }

    QJsonObject lastRequestTo(const QString &path) const
    {
        const QJsonArray log = server().requests();
        for (qsizetype i = log.size() - 1; i >= 0; --i)
            if (log.at(i).toObject().value(QStringLiteral("path")).toString() == path)
                return log.at(i).toObject();
        return {};
    }

    void fault(const QString &method, const QString &path, int status, const QString &body) const
    {
        server().addFault(QJsonObject{{QStringLiteral("method"), method},
                                      {QStringLiteral("path"), path},
                                      {QStringLiteral("action"), QStringLiteral("status")},
                                      {QStringLiteral("status"), status},
                                      {QStringLiteral("body"), body}});
    }

    QString startJob()
    {
        const QString uploadID =
            runTask(AnalysisEndpoints::uploadAudio(audioFile(QStringLiteral("tone.wav"), sineWAV(1.0)), m_bearer));
        return runTask(AnalysisEndpoints::processUpload(uploadID, QStringLiteral("audio_info"), m_bearer));
    }

    JobInfo pollUntilTerminal(const QString &jobID)
    {
        return runTask([this, jobID]() -> QCoro::Task<JobInfo> {
            for (int attempt = 0; attempt < 240; ++attempt) {
                JobInfo info = co_await AnalysisEndpoints::jobInfo(jobID, m_bearer);
                if (info.isTerminal())
                    co_return info;
                co_await QCoro::sleepFor(std::chrono::milliseconds(250));
            }
            throw std::runtime_error("the job never ended");
        }());
    }

    QTemporaryDir m_files;
    QTemporaryDir m_temp;
    QByteArray m_previousTemp;
    static inline QString m_bearer;
};

TEST_F(AnalysisEndpointsTest, uploadSendsExactlyTheMultipartBodyOverHTTPAndHTTPS)
{
    // Several socket writes' worth, with the body's own delimiters inside the audio.
    QByteArray content = randomBytes(700 * 1024 + 3);
    content.insert(1000, "\r\n--VorlikBoundary-00000000-0000-0000-0000-000000000000--\r\n");
    const QUrl file = audioFile(QStringLiteral("say \"hi\"\r\n\u266B.wav"), content);
    DevServer::trustTestCA();
    for (DevServer *service : {&server(), &DevServer::sharedTls()}) {
        SCOPED_TRACE(service->baseUrl().toString().toStdString());
        service->reset();
        service->useAsService();
        service->addFault(QJsonObject{{QStringLiteral("method"), QStringLiteral("POST")},
                                      {QStringLiteral("path"), QStringLiteral("/v1/uploads")},
                                      {QStringLiteral("action"), QStringLiteral("capture")},
                                      {QStringLiteral("status"), 200},
                                      {QStringLiteral("body"), QStringLiteral("{\"upload_id\":\"captured\"}")}});
        EXPECT_EQ(runTask(AnalysisEndpoints::uploadAudio(file, QStringLiteral("token-1"))), QStringLiteral("captured"));

        const QJsonObject sent = service->requests().last().toObject();
        EXPECT_EQ(sent.value(QStringLiteral("method")).toString(), QStringLiteral("POST"));
        EXPECT_EQ(sent.value(QStringLiteral("path")).toString(), QStringLiteral("/v1/uploads"));
        const QRegularExpressionMatch type =
            QRegularExpression(QStringLiteral("^multipart/form-data; boundary=(VorlikBoundary-[0-9a-f-]{36})$"))
                .match(header(sent, QStringLiteral("Content-Type")));
        ASSERT_TRUE(type.hasMatch()) << header(sent, QStringLiteral("Content-Type")).toStdString();
        EXPECT_EQ(header(sent, QStringLiteral("Authorization")), QStringLiteral("Bearer token-1"));
        const QByteArray boundary = type.captured(1).toUtf8();
        const QByteArray expected = "--" + boundary + "\r\n"
            "Content-Disposition: form-data; name=\"file\"; filename=\"say _hi_  \xE2\x99\xAB.wav\"\r\n"
            "Content-Type: application/octet-stream\r\n"
            "\r\n" + content + "\r\n--" + boundary + "--\r\n";
        const QByteArray received = QByteArray::fromBase64(sent.value(QStringLiteral("body_base64")).toString().toLatin1());
        EXPECT_EQ(received.size(), expected.size());
        EXPECT_TRUE(received == expected) << "the body on the wire differs from the multipart body";
        EXPECT_EQ(header(sent, QStringLiteral("Content-Length")).toLongLong(), expected.size());
        service->reset();
    }
    server().useAsService();
}

TEST_F(AnalysisEndpointsTest, aZeroByteFileUploads)
{
    const QString uploadID = runTask(AnalysisEndpoints::uploadAudio(audioFile(QStringLiteral("empty.wav"), {}), m_bearer));
    EXPECT_FALSE(uploadID.isEmpty());
    const QJsonObject sent = lastRequestTo(QStringLiteral("/v1/uploads"));
    const QString boundary = header(sent, QStringLiteral("Content-Type")).section(QStringLiteral("boundary="), 1);
    EXPECT_EQ(sent.value(QStringLiteral("body_size")).toInteger(),
              MultipartBody::head(boundary, QStringLiteral("empty.wav")).size() + MultipartBody::tail(boundary).size());
}

TEST_F(AnalysisEndpointsTest, anUploadOverTheServersLimitIsBadStatus413)
{
    // Sparse: the size is real, the disk is not spent.
    const QString path = m_files.filePath(QStringLiteral("big.wav"));
    QFile big(path);
    ASSERT_TRUE(big.open(QIODevice::WriteOnly));
    ASSERT_TRUE(big.resize(uploadLimit + 1));
    big.close();
    const auto stored = [] { return QDir(server().dataPath() + QStringLiteral("/uploads")).entryList(QDir::Files); };
    const QStringList storedBefore = stored();
    const auto error = failureOf<APIError>(
        [&] { return AnalysisEndpoints::uploadAudio(QUrl::fromLocalFile(path), m_bearer); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind(), APIError::Case::badStatus);
    EXPECT_EQ(error->status(), 413);
    EXPECT_EQ(error->description(), QStringLiteral("Server error 413: ") + error->text());
    // The service's answer is a JSON error, and it kept nothing of the refused file.
    EXPECT_EQ(QJsonDocument::fromJson(error->text().toUtf8()).object().value(QStringLiteral("error")).toString(),
              QStringLiteral("the file is larger than the 128 MiB upload limit (134217728 bytes)"));
    EXPECT_EQ(stored(), storedBefore);
}

TEST_F(AnalysisEndpointsTest, everyErrorStatusIsABadStatusWithTheServersText)
{
    // The upload judges its own reply; the status request goes through the shared frame.
    const QUrl file = audioFile(QStringLiteral("a.wav"), sineWAV(0.05));
    for (int status = 400; status <= 599; ++status) {
        SCOPED_TRACE(status);
        const QString body = QStringLiteral("no, %1").arg(status);
        fault(QStringLiteral("POST"), QStringLiteral("/v1/uploads"), status, body);
        auto error = failureOf<APIError>([&] { return AnalysisEndpoints::uploadAudio(file, m_bearer); });
        ASSERT_TRUE(error);
        EXPECT_EQ(error->description(), QStringLiteral("Server error %1: ").arg(status) + body);

        fault(QStringLiteral("GET"), QStringLiteral("/v1/jobs/j-4"), status, body);
        error = failureOf<APIError>([&] { return AnalysisEndpoints::jobInfo(QStringLiteral("j-4"), m_bearer); });
        ASSERT_TRUE(error);
        EXPECT_EQ(error->description(), QStringLiteral("Server error %1: ").arg(status) + body);
    }
}

TEST_F(AnalysisEndpointsTest, anUploadIsNotSentOnToAnotherHost)
{
    QUrl elsewhere = server().baseUrl();
    elsewhere.setHost(QStringLiteral("localhost"));
    elsewhere.setPath(QStringLiteral("/v1/uploads/elsewhere"));
    server().addFault(QJsonObject{{QStringLiteral("path"), QStringLiteral("/v1/uploads")},
                                  {QStringLiteral("action"), QStringLiteral("status")},
                                  {QStringLiteral("status"), 307},
                                  {QStringLiteral("location"), elsewhere.toString()}});
    const auto error = failureOf<TransportError>([&] {
        return AnalysisEndpoints::uploadAudio(audioFile(QStringLiteral("a.wav"), sineWAV(0.05)), m_bearer);
    });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), QNetworkReply::InsecureRedirectError);
    EXPECT_TRUE(lastRequestTo(QStringLiteral("/v1/uploads/elsewhere")).isEmpty()) << "the file and the bearer went on";
}

TEST_F(AnalysisEndpointsTest, onlyStatus200WithAStringUploadIDIsAnUploadSuccess)
{
    const struct {
        int status;
        QString body;
    } cases[] = {{200, QStringLiteral("not json")}, {200, QStringLiteral("[\"upload_id\"]")}, {200, QStringLiteral("{}")},
                 {200, QStringLiteral("{\"upload_id\":42}")}, {200, QStringLiteral("{\"upload_id\":null}")},
                 {201, QStringLiteral("{\"upload_id\":\"u1\"}")}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.body.toStdString());
        fault(QStringLiteral("POST"), QStringLiteral("/v1/uploads"), c.status, c.body);
        const auto error = failureOf<APIError>([&] {
            return AnalysisEndpoints::uploadAudio(audioFile(QStringLiteral("a.wav"), sineWAV(0.1)), m_bearer);
        });
        ASSERT_TRUE(error);
        if (c.status == 200) {
            EXPECT_EQ(error->description(), QStringLiteral("Unexpected response: Upload response missing upload_id."));
        } else {
            EXPECT_EQ(error->status(), c.status);
            EXPECT_EQ(error->text(), c.body);
        }
        EXPECT_EQ(leftovers(), QStringList());
    }
}

TEST_F(AnalysisEndpointsTest, aMissingSourceIsAFileErrorAndNothingIsSent)
{
    const auto error = failureOf<FileError>([&] {
        return AnalysisEndpoints::uploadAudio(QUrl::fromLocalFile(m_files.filePath(QStringLiteral("gone.wav"))), m_bearer);
    });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->description(),
              QStringLiteral("The file \u201Cgone.wav\u201D couldn\u2019t be opened: No such file or directory."));
    EXPECT_TRUE(lastRequestTo(QStringLiteral("/v1/uploads")).isEmpty());
}

TEST_F(AnalysisEndpointsTest, noServerADroppedConnectionOrAStopBeforeTheStartAreTransportErrors)
{
    const QUrl file = audioFile(QStringLiteral("a.wav"), sineWAV(0.1));
    CancellationToken stop;
    stop.cancel();
    auto error = failureOf<TransportError>([&] { return AnalysisEndpoints::uploadAudio(file, m_bearer, stop); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), QNetworkReply::OperationCanceledError);
    EXPECT_TRUE(lastRequestTo(QStringLiteral("/v1/uploads")).isEmpty());

    server().addFault(QJsonObject{{QStringLiteral("method"), QStringLiteral("POST")},
                                  {QStringLiteral("path"), QStringLiteral("/v1/uploads")},
                                  {QStringLiteral("action"), QStringLiteral("close")},
                                  {QStringLiteral("count"), -1}});
    error = failureOf<TransportError>([&] { return AnalysisEndpoints::uploadAudio(file, m_bearer); });
    server().clearFaults();
    ASSERT_TRUE(error);

    QTcpServer probe;
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
    const quint16 port = probe.serverPort();
    probe.close();
    platform::Settings::standard().setValue(QStringLiteral("baseURL"), QStringLiteral("http://127.0.0.1:%1").arg(port));
    error = failureOf<TransportError>([&] { return AnalysisEndpoints::uploadAudio(file, m_bearer); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), QNetworkReply::ConnectionRefusedError);
}

TEST_F(AnalysisEndpointsTest, cancellingAnUploadInFlightAbortsItAndRemovesTheFile)
{
    // The server holds the answer back; the stop arrives while the exchange is in flight. The
    // abort resumes the upload from inside the reply itself: done a few times, so that tearing
    // the exchange down under the reply would show.
    server().addFault(QJsonObject{{QStringLiteral("method"), QStringLiteral("POST")},
                                  {QStringLiteral("path"), QStringLiteral("/v1/uploads")},
                                  {QStringLiteral("action"), QStringLiteral("delay")},
                                  {QStringLiteral("delay_ms"), 20000},
                                  {QStringLiteral("count"), -1}});
    for (int attempt = 0; attempt < 4; ++attempt) {
        CancellationToken stop;
        QTimer::singleShot(150, [stop] { stop.cancel(); });
        const auto error = failureOf<TransportError>([&] {
            return AnalysisEndpoints::uploadAudio(audioFile(QStringLiteral("a.wav"), sineWAV(2.0)), m_bearer, stop);
        });
        ASSERT_TRUE(error);
        EXPECT_EQ(error->code(), QNetworkReply::OperationCanceledError);
        EXPECT_EQ(leftovers(), QStringList());
    }
    server().clearFaults();
}

TEST_F(AnalysisEndpointsTest, aStopInTheMiddleOfTheBodyLeavesNothingBehind)
{
    // The service takes nothing for a while: the client is stuck with most of a large body
    // unsent when the stop comes. Nothing may stay behind: no file, no open connection. (A
    // first upload starts whatever lasts for the process, the upload thread among it.)
    runTask(AnalysisEndpoints::uploadAudio(audioFile(QStringLiteral("first.wav"), sineWAV(0.1)), m_bearer));
    server().addFault(QJsonObject{{QStringLiteral("method"), QStringLiteral("POST")},
                                  {QStringLiteral("path"), QStringLiteral("/v1/uploads")},
                                  {QStringLiteral("action"), QStringLiteral("delay")},
                                  {QStringLiteral("delay_ms"), 20000}});
    const QString path = m_files.filePath(QStringLiteral("long.wav"));
    QFile large(path);
    ASSERT_TRUE(large.open(QIODevice::WriteOnly));
    ASSERT_TRUE(large.resize(64 << 20));
    large.close();
    const qsizetype descriptorsBefore = openDescriptors();
    CancellationToken stop;
    QTimer::singleShot(300, [stop] { stop.cancel(); });
    const auto error = failureOf<TransportError>(
        [&] { return AnalysisEndpoints::uploadAudio(QUrl::fromLocalFile(path), m_bearer, stop); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), QNetworkReply::OperationCanceledError);
    // The connection and the source close on the upload thread, soon after.
    QDeadlineTimer patience(10000);
    while (openDescriptors() != descriptorsBefore && !patience.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_EQ(openDescriptors(), descriptorsBefore) << "the upload's connection or source file is still open";
    EXPECT_EQ(leftovers(), QStringList());
    server().clearFaults();
}

TEST_F(AnalysisEndpointsTest, aSourceThatBlocksOnOpenLeavesTheCallerFreeAndStopEndsIt)
{
    // A FIFO blocks open() until something writes to it, as a hung network mount would: the
    // caller's thread must stay free, so that the stop can come and end the upload. A guard
    // unblocks the FIFO after a while should the caller's thread be stuck in it.
    runTask(AnalysisEndpoints::uploadAudio(audioFile(QStringLiteral("first.wav"), sineWAV(0.1)), m_bearer));
    const QString path = m_files.filePath(QStringLiteral("pipe.wav"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    const auto unblock = [&path] {
        const int writer = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_NONBLOCK);
        if (writer >= 0)
            ::close(writer);
        return writer >= 0;
    };
    std::mutex mutex;
    std::condition_variable ended;
    bool testDone = false;
    std::atomic<bool> guardUnblocked = false;
    std::thread guard([&] {
        std::unique_lock lock(mutex);
        if (!ended.wait_for(lock, std::chrono::seconds(10), [&] { return testDone; }))
            guardUnblocked = unblock();
    });
    CancellationToken stop;
    QTimer::singleShot(200, [stop] { stop.cancel(); });
    const auto error = failureOf<TransportError>(
        [&] { return AnalysisEndpoints::uploadAudio(QUrl::fromLocalFile(path), m_bearer, stop); });
    {
        const std::lock_guard lock(mutex);
        testDone = true;
    }
    ended.notify_all();
    guard.join();
    EXPECT_FALSE(guardUnblocked) << "the caller's thread waited in open() until the FIFO was written to";
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), QNetworkReply::OperationCanceledError);

    // Once the FIFO opens, whatever opened it lets it go.
    unblock();
    const auto fifoOpen = [&path] {
        const QDir descriptors(QStringLiteral("/proc/self/fd"));
        for (const QString &name : descriptors.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot))
            if (QFile::symLinkTarget(descriptors.filePath(name)) == path)
                return true;
        return false;
    };
    QDeadlineTimer patience(10000);
    while (fifoOpen() && !patience.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_FALSE(fifoOpen()) << "the FIFO is still open";
    EXPECT_TRUE(lastRequestTo(QStringLiteral("/v1/uploads")).value(QStringLiteral("body_size")).toInteger() > 0)
        << "only the first upload reached the service";
}

TEST_F(AnalysisEndpointsTest, anAnswerBeforeTheBodyIsReadIsTheAnswerEvenWhenTheServerHangsUp)
{
    // The server reads a little, refuses, and closes with most of the body unread: the client's
    // next write fails, but the refusal has already arrived and is what the user must see.
    TinyPeer peer([](const QByteArray &) {
        return QByteArray("HTTP/1.1 413 Payload Too Large\r\nContent-Type: application/json\r\nContent-Length: 21\r\n"
                          "Connection: close\r\n\r\n{\"error\":\"too large\"}");
    }, 16 * 1024);
    platform::Settings::standard().setValue(QStringLiteral("baseURL"), QStringLiteral("http://127.0.0.1:%1").arg(peer.port()));
    const QUrl file = audioFile(QStringLiteral("big.wav"), randomBytes(5 << 20));
    for (int attempt = 0; attempt < 3; ++attempt) {
        SCOPED_TRACE(attempt);
        const auto error = failureOf<APIError>([&] { return AnalysisEndpoints::uploadAudio(file, m_bearer); });
        ASSERT_TRUE(error);
        EXPECT_EQ(error->description(), QStringLiteral("Server error 413: {\"error\":\"too large\"}"));
    }
}

TEST_F(AnalysisEndpointsTest, throughAnHTTPProxyAnHTTPUploadIsForwardedLikeEveryOtherCall)
{
    // A proxy that forwards plain HTTP but refuses tunnels, as many do by default: the upload
    // goes to it in absolute form with the proxy's credentials, like the service's other calls.
    TinyPeer proxy([](const QByteArray &received) {
        if (received.startsWith("CONNECT "))
            return QByteArray("HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n");
        if (!wholeRequest(received))
            return QByteArray();
        return QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 24\r\n\r\n{\"upload_id\":\"proxied\"}\n");
    });
    QNetworkProxy::setApplicationProxy(QNetworkProxy(QNetworkProxy::HttpProxy, QStringLiteral("127.0.0.1"), proxy.port(),
                                                     QStringLiteral("user"), QStringLiteral("secret")));
    // Loopback addresses never go through a proxy; this name is never looked up either.
    platform::Settings::standard().setValue(QStringLiteral("baseURL"), QStringLiteral("http://service.invalid:8123"));
    QString uploadID;
    try {
        uploadID = runTask(AnalysisEndpoints::uploadAudio(audioFile(QStringLiteral("a.wav"), sineWAV(0.1)), m_bearer));
    } catch (const std::exception &error) {
        ADD_FAILURE() << describe(error).toStdString();
    }
    QNetworkProxy::setApplicationProxy(QNetworkProxy());
    EXPECT_EQ(uploadID, QStringLiteral("proxied"));
    const QByteArray head = proxy.received().left(proxy.received().indexOf("\r\n\r\n") + 2);
    EXPECT_TRUE(head.startsWith("POST http://service.invalid:8123/v1/uploads HTTP/1.1\r\n")) << head.toStdString();
    EXPECT_TRUE(head.contains("\r\nProxy-Authorization: Basic " + QByteArray("user:secret").toBase64() + "\r\n"))
        << head.toStdString();
    EXPECT_TRUE(head.contains("\r\nHost: service.invalid:8123\r\n")) << head.toStdString();
}

TEST_F(AnalysisEndpointsTest, anUntrustedServerFailsTheUploadWithTheSameTextAsOtherCalls)
{
    const QSslConfiguration trusted = QSslConfiguration::defaultConfiguration();
    QSslConfiguration untrusted = trusted;
    untrusted.setCaCertificates(QSslConfiguration::systemCaCertificates());
    QSslConfiguration::setDefaultConfiguration(untrusted);
    DevServer::sharedTls().useAsService();
    const auto uploadError = failureOf<TransportError>([&] {
        return AnalysisEndpoints::uploadAudio(audioFile(QStringLiteral("a.wav"), sineWAV(0.05)), m_bearer);
    });
    const auto otherError = failureOf<TransportError>([&] { return AnalysisEndpoints::jobInfo(QStringLiteral("j-1"), m_bearer); });
    QSslConfiguration::setDefaultConfiguration(trusted);
    ASSERT_TRUE(uploadError && otherError);
    EXPECT_EQ(uploadError->code(), QNetworkReply::SslHandshakeFailedError);
    EXPECT_EQ(otherError->code(), QNetworkReply::SslHandshakeFailedError);
    EXPECT_EQ(uploadError->description(), otherError->description());
}

TEST_F(AnalysisEndpointsTest, aJobRunsToCompletedWithItsReportAndDownload)
{
    const QString uploadID = runTask(
        AnalysisEndpoints::uploadAudio(audioFile(QStringLiteral("tone \"A\".wav"), sineWAV(3.0)), m_bearer));
    const QString jobID = runTask(AnalysisEndpoints::processUpload(uploadID, QStringLiteral("audio_info"), m_bearer));
    EXPECT_FALSE(jobID.isEmpty());

    const JobInfo info = pollUntilTerminal(jobID);
    EXPECT_TRUE(info.isCompleted()) << info.status.value_or(QStringLiteral("?")).toStdString() << " "
                                    << info.errorSummary.value_or(QString()).toStdString();
    ASSERT_TRUE(info.analysis);
    const AnalysisPayload &report = *info.analysis;
    ASSERT_TRUE(report.file);
    EXPECT_EQ(report.file->name, QStringLiteral("tone _A_.wav"));
    ASSERT_TRUE(report.audioStreams);
    ASSERT_EQ(report.audioStreams->size(), 1);
    EXPECT_EQ(report.audioStreams->front().channels, LooseInt{2});
    EXPECT_EQ(report.audioStreams->front().sampleRateHz, LooseDouble{44100.0});
    ASSERT_TRUE(report.loudness && report.loudness->integratedLufs);
    // A 997 Hz sine at -6 dBFS in both channels measures about -6 LUFS.
    EXPECT_NEAR(*report.loudness->integratedLufs, -6.0, 1.0);

    const QByteArray text = runTask(AnalysisEndpoints::downloadReport(jobID, m_bearer));
    EXPECT_FALSE(text.isEmpty());
    EXPECT_EQ(lastRequestTo(QStringLiteral("/v1/jobs/") + jobID + QStringLiteral("/download/report"))
                  .value(QStringLiteral("method"))
                  .toString(),
              QStringLiteral("GET"));
}

TEST_F(AnalysisEndpointsTest, processJudgesTheStatusAndTheJobID)
{
    const QString path = QStringLiteral("/v1/jobs/u-1/process");
    fault(QStringLiteral("POST"), path, 200, QStringLiteral("{\"job_id\":\"j1\"}"));
    auto error = failureOf<APIError>(
        [&] { return AnalysisEndpoints::processUpload(QStringLiteral("u-1"), QStringLiteral("audio_info"), m_bearer); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->description(), QStringLiteral("Server error 200: {\"job_id\":\"j1\"}"));

    fault(QStringLiteral("POST"), path, 202, QStringLiteral("{\"job\":\"j1\"}"));
    error = failureOf<APIError>(
        [&] { return AnalysisEndpoints::processUpload(QStringLiteral("u-1"), QStringLiteral("audio_info"), m_bearer); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->description(), QStringLiteral("Unexpected response: Process response missing job_id."));

    fault(QStringLiteral("POST"), path, 202, QStringLiteral("{\"job_id\":\"j1\"}"));
    EXPECT_EQ(runTask(AnalysisEndpoints::processUpload(QStringLiteral("u-1"), QStringLiteral("audio_info"), m_bearer)),
              QStringLiteral("j1"));
    const QJsonObject sent = lastRequestTo(path);
    EXPECT_EQ(header(sent, QStringLiteral("Authorization")), QStringLiteral("Bearer ") + m_bearer);
    EXPECT_EQ(sent.value(QStringLiteral("body_size")).toInteger(), QByteArray(R"({"workflow":"audio_info"})").size());
}

TEST_F(AnalysisEndpointsTest, jobStatusDocumentsAreDecodedOrRejected)
{
    const QString path = QStringLiteral("/v1/jobs/j-9");
    fault(QStringLiteral("GET"), path, 200, QStringLiteral(R"({"status":"completed","analysis":{"workflow":"audio_info"}})"));
    const JobInfo lower = runTask(AnalysisEndpoints::jobInfo(QStringLiteral("j-9"), m_bearer));
    EXPECT_TRUE(lower.isTerminal());
    EXPECT_TRUE(lower.isCompleted());

    fault(QStringLiteral("GET"), path, 200,
          QStringLiteral(R"({"status":"COMPLETED","analysis":{"loudness":{"integrated_lufs":"-16"}}})"));
    auto error = failureOf<APIError>([&] { return AnalysisEndpoints::jobInfo(QStringLiteral("j-9"), m_bearer); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind(), APIError::Case::decoding);
    EXPECT_EQ(error->description(),
              QStringLiteral(R"(Unexpected response: typeMismatch: "analysis.loudness.integrated_lufs" is a string, expected a number)"));

    server().addFault(QJsonObject{{QStringLiteral("method"), QStringLiteral("GET")},
                                  {QStringLiteral("path"), path},
                                  {QStringLiteral("action"), QStringLiteral("malformed")}});
    error = failureOf<APIError>([&] { return AnalysisEndpoints::jobInfo(QStringLiteral("j-9"), m_bearer); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind(), APIError::Case::decoding);

    error = failureOf<APIError>([&] { return AnalysisEndpoints::jobInfo(QStringLiteral("no-such-job"), m_bearer); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind(), APIError::Case::badStatus);
    EXPECT_EQ(error->status(), 404);
}

TEST_F(AnalysisEndpointsTest, downloadReportNeedsStatus200)
{
    fault(QStringLiteral("GET"), QStringLiteral("/v1/jobs/j-1/download/report"), 409, QStringLiteral("not ready"));
    const auto error = failureOf<APIError>([&] { return AnalysisEndpoints::downloadReport(QStringLiteral("j-1"), m_bearer); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->description(), QStringLiteral("Server error 409: not ready"));

    // The body comes back untouched, bytes that are not text included.
    server().addFault(QJsonObject{{QStringLiteral("method"), QStringLiteral("GET")},
                                  {QStringLiteral("path"), QStringLiteral("/v1/jobs/j-1/download/report")},
                                  {QStringLiteral("action"), QStringLiteral("status")},
                                  {QStringLiteral("status"), 200},
                                  {QStringLiteral("body"), QStringLiteral("line 1\r\nline 2\n")}});
    EXPECT_EQ(runTask(AnalysisEndpoints::downloadReport(QStringLiteral("j-1"), m_bearer)), QByteArray("line 1\r\nline 2\n"));
}

TEST_F(AnalysisEndpointsTest, cancelAcceptsOKAcceptedAndGoneAndFailsOtherwiseWithTheFixedText)
{
    const QString jobID = startJob();
    runTask(AnalysisEndpoints::cancelJob(jobID, m_bearer));
    EXPECT_EQ(lastRequestTo(QStringLiteral("/v1/jobs/") + jobID + QStringLiteral("/cancel")).value(QStringLiteral("method")).toString(),
              QStringLiteral("POST"));
    runTask(AnalysisEndpoints::cancelJob(QStringLiteral("never-existed"), m_bearer)); // the server's own 404
    for (int status : {200, 202, 404, 500, 201, 401}) {
        SCOPED_TRACE(status);
        fault(QStringLiteral("POST"), QStringLiteral("/v1/jobs/j-3/cancel"), status, QStringLiteral("{\"error\":\"boom\"}"));
        if (status == 200 || status == 202 || status == 404) {
            runTask(AnalysisEndpoints::cancelJob(QStringLiteral("j-3"), m_bearer)); // no throw
            continue;
        }
        const auto error = failureOf<APIError>([&] { return AnalysisEndpoints::cancelJob(QStringLiteral("j-3"), m_bearer); });
        ASSERT_TRUE(error);
        EXPECT_EQ(error->status(), status);
        EXPECT_EQ(error->description(), QStringLiteral("Server error %1: Job cancel failed.").arg(status));
    }
}

} // namespace
