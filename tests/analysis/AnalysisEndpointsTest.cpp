#include "analysis/AnalysisEndpoints.h"
#include "analysis/FileError.h"
#include "analysis/MultipartBody.h"
#include "service/APIError.h"
#include "tests/analysis/AnalysisSessionTest.h"

#include <QDir>
#include <QNetworkProxy>
#include <QRegularExpression>
#include <QSslConfiguration>
#include <QTcpServer>
#include <QTcpSocket>

#include <chrono>
#include <functional>
#include <future>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace vorlik;
using namespace vorlik::analysis;
using namespace Qt::StringLiterals;
using service::APIError;
using service::TransportError;
using namespace vorlik::test;

namespace {

// The network error an upload or a call ends with (NoError when it ends otherwise).
template <typename Make>
QNetworkReply::NetworkError transportFailure(Make make)
{
    const std::optional<TransportError> error = failureOf<TransportError>(make);
    return error ? error->code() : QNetworkReply::NoError;
}

qsizetype openDescriptors()
{
    return QDir(u"/proc/self/fd"_s).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size();
}

// A one-connection HTTP peer on loopback that misbehaves in ways the stand-in service cannot:
// `answer` sees the bytes received so far and returns what to send back (empty: keep reading);
// each connection closes after its answer.
struct TinyPeer : QObject {
    using Answer = std::function<QByteArray(const QByteArray &received)>;

    TinyPeer(Answer answer, qint64 readBufferBytes = 0) : answer(std::move(answer))
    {
        EXPECT_TRUE(server.listen(QHostAddress::LocalHost, 0));
        QObject::connect(&server, &QTcpServer::newConnection, this, [this, readBufferBytes] {
            QTcpSocket *socket = server.nextPendingConnection();
            // A small read buffer leaves the rest of the body unread in the kernel, so that the
            // close after the answer resets the connection, as a busy server's does.
            socket->setReadBufferSize(readBufferBytes);
            received.clear();
            QObject::connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
                if (socket->property("answered").toBool())
                    return;
                received += socket->readAll();
                const QByteArray reply = this->answer(received);
                if (reply.isEmpty())
                    return;
                socket->setProperty("answered", true);
                socket->write(reply);
                socket->disconnectFromHost();
            });
        });
    }

    QTcpServer server;
    Answer answer;
    QByteArray received; // of the latest connection
};

class AnalysisEndpointsTest : public AnalysisSessionTest {
protected:
    void SetUp() override
    {
        AnalysisSessionTest::SetUp();
        // A private temporary folder, so leftovers of this process's uploads are seen exactly.
        ASSERT_TRUE(m_temp.isValid());
        m_previousTemp = qgetenv("TMPDIR");
        qputenv("TMPDIR", m_temp.path().toUtf8());
        ASSERT_EQ(QDir::tempPath(), m_temp.path());
        if (m_bearer.isEmpty())
            m_bearer = activateOutside(server().demoKey()).value(u"access_token"_s).toString();
    }

    void TearDown() override
    {
        EXPECT_EQ(leftovers(), QStringList()) << "an upload left its temporary file behind";
        qputenv("TMPDIR", m_previousTemp);
        AnalysisSessionTest::TearDown();
    }

    QStringList leftovers() const { return QDir(m_temp.path()).entryList(QDir::Files | QDir::Hidden); }

    QUrl audioFile(const QString &name, const QByteArray &content)
    {
        test::writeFile(m_files.filePath(name), content);
        return QUrl::fromLocalFile(m_files.filePath(name));
    }

    enum class Call { upload, process, status, report, cancel };

    // Answers `call` for job "j-1" with `status` and `body` (or another fault `action`); returns what
    // the call ends with: its result as text, or "error: " and the error's description.
    QString answered(Call call, int status, const QString &body, const QString &action = u"status"_s)
    {
        static const std::pair<const char *, QString> routes[] = {
            {"POST", u"/v1/uploads"_s}, {"POST", u"/v1/jobs/j-1/process"_s}, {"GET", u"/v1/jobs/j-1"_s},
            {"GET", u"/v1/jobs/j-1/download/report"_s}, {"POST", u"/v1/jobs/j-1/cancel"_s}};
        const auto &[method, path] = routes[int(call)];
        server().addFault(fault(QString::fromLatin1(method), path, action, status, 1, 0, body));
        const QString id = u"j-1"_s;
        try {
            switch (call) {
            case Call::upload:
                return test::run(AnalysisEndpoints::uploadAudio(audioFile(u"a.wav"_s, sineWAV(0.05)), m_bearer));
            case Call::process:
                return test::run(AnalysisEndpoints::processUpload(id, u"audio_info"_s, m_bearer));
            case Call::status:
                return test::run(AnalysisEndpoints::jobInfo(id, m_bearer)).isCompleted() ? u"completed"_s : u"not completed"_s;
            case Call::report:
                return QString::fromUtf8(test::run(AnalysisEndpoints::downloadReport(id, m_bearer)));
            case Call::cancel:
                test::run(AnalysisEndpoints::cancelJob(id, m_bearer));
                return u"cancelled"_s;
            }
        } catch (const std::exception &error) {
            return u"error: "_s + describe(error);
        }
        return {};
    }

    QTemporaryDir m_temp;
    QByteArray m_previousTemp;
    static inline QString m_bearer;
};

TEST_F(AnalysisEndpointsTest, uploadSendsExactlyTheMultipartBodyOverHTTPAndHTTPS)
{
    // Several socket writes' worth, with the body's own delimiters inside the audio.
    QByteArray content = randomBytes(700 * 1024 + 3);
    content.insert(1000, "\r\n--VorlikBoundary-00000000-0000-0000-0000-000000000000--\r\n");
    const QUrl file = audioFile(u"say \"hi\"\r\n\u266B;\\'.wav"_s, content);
    DevServer::trustTestCA();
    for (DevServer *service : {&server(), &DevServer::sharedTls()}) {
        SCOPED_TRACE(service->baseUrl().toString().toStdString());
        service->reset();
        service->useAsService();
        service->addFault(fault(u"POST"_s, u"/v1/uploads"_s, u"capture"_s, 200, 1, 0, u"{\"upload_id\":\"captured\"}"_s));
        EXPECT_EQ(test::run(AnalysisEndpoints::uploadAudio(file, u"token-1"_s)), u"captured"_s);

        const QJsonObject sent = service->requests().last().toObject();
        EXPECT_EQ(sent.value(u"method"_s).toString() + u' ' + sent.value(u"path"_s).toString(), u"POST /v1/uploads"_s);
        const QRegularExpressionMatch type =
            QRegularExpression(u"^multipart/form-data; boundary=(VorlikBoundary-[0-9a-f-]{36})$"_s).match(header(sent, u"Content-Type"_s));
        ASSERT_TRUE(type.hasMatch()) << header(sent, u"Content-Type"_s).toStdString();
        EXPECT_EQ(header(sent, u"Authorization"_s), u"Bearer token-1"_s);
        const QByteArray boundary = type.captured(1).toUtf8();
        const QByteArray expected = "--" + boundary + "\r\n"
            "Content-Disposition: form-data; name=\"file\"; filename=\"say _hi_  \xE2\x99\xAB;\\'.wav\"\r\n"
            "Content-Type: application/octet-stream\r\n\r\n" + content + "\r\n--" + boundary + "--\r\n";
        const QByteArray received = QByteArray::fromBase64(sent.value(u"body_base64"_s).toString().toLatin1());
        EXPECT_TRUE(received == expected) << "the body on the wire differs: " << received.size() << " bytes of " << expected.size();
        EXPECT_EQ(header(sent, u"Content-Length"_s).toLongLong(), expected.size());
        service->reset();
    }
    server().useAsService();

    // A file of no bytes is a body of head and tail.
    EXPECT_FALSE(test::run(AnalysisEndpoints::uploadAudio(audioFile(u"empty.wav"_s, {}), m_bearer)).isEmpty());
    const QJsonObject sent = requestsTo(u"/v1/uploads"_s).value(0);
    const QString boundary = header(sent, u"Content-Type"_s).section(u"boundary="_s, 1);
    EXPECT_EQ(sent.value(u"body_size"_s).toInteger(),
              MultipartBody::head(boundary, u"empty.wav"_s).size() + MultipartBody::tail(boundary).size());
}

TEST_F(AnalysisEndpointsTest, eachCallJudgesTheStatusAndTheDocumentAndAnUploadOverTheLimitIs413AndNotKept)
{
    const struct { Call call; int status; QString body, outcome; } cases[] = {
        {Call::upload, 201, u"{\"upload_id\":\"u1\"}"_s, u"error: Server error 201: {\"upload_id\":\"u1\"}"_s},
        {Call::process, 200, u"{\"job_id\":\"j1\"}"_s, u"error: Server error 200: {\"job_id\":\"j1\"}"_s},
        {Call::process, 202, u"{\"job\":\"j1\"}"_s, u"error: Unexpected response: Process response missing job_id."_s},
        {Call::process, 202, u"{\"job_id\":\"j1\"}"_s, u"j1"_s},
        {Call::status, 200, uR"({"status":"completed","analysis":{"workflow":"audio_info"}})"_s, u"completed"_s},
        {Call::status, 200, uR"({"status":"COMPLETED","analysis":{"loudness":{"integrated_lufs":"-16"}}})"_s,
         uR"(error: Unexpected response: typeMismatch: "analysis.loudness.integrated_lufs" is a string, expected a number)"_s},
        {Call::report, 409, u"not ready"_s, u"error: Server error 409: not ready"_s},
        // The body comes back untouched.
        {Call::report, 200, u"line 1\r\nline 2\n"_s, u"line 1\r\nline 2\n"_s},
    };
    for (const auto &c : cases)
        EXPECT_EQ(answered(c.call, c.status, c.body), c.outcome) << int(c.call) << " " << c.status << " " << c.body.toStdString();
    for (const char *body : {"not json", "[\"upload_id\"]", "{}", "{\"upload_id\":42}", "{\"upload_id\":null}"})
        EXPECT_EQ(answered(Call::upload, 200, QString::fromUtf8(body)),
                  u"error: Unexpected response: Upload response missing upload_id."_s);
    for (const int status : {200, 202, 404, 201, 401, 500}) // the service's text is not shown
        EXPECT_EQ(answered(Call::cancel, status, u"{\"error\":\"boom\"}"_s), status == 200 || status == 202 || status == 404
                      ? u"cancelled"_s : u"error: Server error %1: Job cancel failed."_s.arg(status));
    EXPECT_TRUE(answered(Call::status, 200, {}, u"malformed"_s).startsWith(u"error: Unexpected response: "_s));

    // Every error status, 400 (an invalid operation to Qt), 407 (a proxy's demand) and 418
    // among them; the upload judges its own reply, the status request goes through the shared frame.
    for (int status = 400; status <= 599; ++status) {
        const QString body = u"no, %1"_s.arg(status);
        for (const Call call : {Call::upload, Call::status})
            ASSERT_EQ(answered(call, status, body), u"error: Server error %1: "_s.arg(status) + body) << int(call);
    }

    // The service's own answers for a job it never had: its 404 to a cancel is done, to a status an error.
    EXPECT_NO_THROW(test::run(AnalysisEndpoints::cancelJob(u"never-existed"_s, m_bearer)));
    const auto unknown = failureOf<APIError>([&] { return AnalysisEndpoints::jobInfo(u"never-existed"_s, m_bearer); });
    EXPECT_TRUE(unknown && unknown->status() == 404);
    const auto stored = [] { return QDir(server().dataPath() + u"/uploads"_s).entryList(QDir::Files); };
    const QStringList storedBefore = stored();
    const QUrl big = sparseFile(u"big.wav"_s, 134217728 + 1);
    const auto error = failureOf<APIError>([&] { return AnalysisEndpoints::uploadAudio(big, m_bearer); });
    ASSERT_TRUE(error);
    EXPECT_EQ(std::pair(error->kind(), error->status()), std::pair(APIError::Case::badStatus, 413));
    EXPECT_EQ(QJsonDocument::fromJson(error->text().toUtf8()).object().value(u"error"_s).toString(),
              u"the file is larger than the 128 MiB upload limit (134217728 bytes)"_s);
    EXPECT_EQ(stored(), storedBefore);
}

TEST_F(AnalysisEndpointsTest, anUploadIsNotSentOnToAnotherHostAndAMissingSourceNoServerADroppedConnectionOrAStopFailBeforeAnAnswer)
{
    QUrl elsewhere = server().baseUrl();
    elsewhere.setHost(u"localhost"_s);
    elsewhere.setPath(u"/v1/uploads/elsewhere"_s);
    QJsonObject redirect = fault(u"POST"_s, u"/v1/uploads"_s, u"status"_s, 307);
    redirect.insert(u"location"_s, elsewhere.toString());
    server().addFault(redirect);
    EXPECT_EQ(transportFailure([&] { return AnalysisEndpoints::uploadAudio(audioFile(u"a.wav"_s, sineWAV(0.05)), m_bearer); }),
              QNetworkReply::InsecureRedirectError);
    EXPECT_TRUE(requestsTo(u"/v1/uploads/elsewhere"_s).isEmpty()) << "the file and the bearer went on";

    server().clearRequests();
    const auto error = failureOf<FileError>(
        [&] { return AnalysisEndpoints::uploadAudio(QUrl::fromLocalFile(m_files.filePath(u"gone.wav"_s)), m_bearer); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->description(), u"The file \u201Cgone.wav\u201D couldn\u2019t be opened: No such file or directory."_s);

    const QUrl file = audioFile(u"a.wav"_s, sineWAV(0.1));
    CancellationToken stop;
    stop.cancel();
    EXPECT_EQ(transportFailure([&] { return AnalysisEndpoints::uploadAudio(file, m_bearer, stop); }),
              QNetworkReply::OperationCanceledError);
    EXPECT_TRUE(requestsTo(u"/v1/uploads"_s).isEmpty()) << "nothing was sent";

    server().addFault(fault(u"POST"_s, u"/v1/uploads"_s, u"close"_s, 500, -1));
    EXPECT_NE(transportFailure([&] { return AnalysisEndpoints::uploadAudio(file, m_bearer); }), QNetworkReply::NoError);
    server().clearFaults();

    QTcpServer probe;
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
    const quint16 port = probe.serverPort();
    probe.close();
    platform::Settings::standard().setValue(u"baseURL"_s, u"http://127.0.0.1:%1"_s.arg(port));
    EXPECT_EQ(transportFailure([&] { return AnalysisEndpoints::uploadAudio(file, m_bearer); }), QNetworkReply::ConnectionRefusedError);
}

TEST_F(AnalysisEndpointsTest, aStopDuringTheUploadLeavesNothingBehindAndAnAnswerBeforeTheBodyIsReadIsTheAnswer)
{
    // The service holds the answer back; the stop arrives while the exchange is in flight. The
    // abort resumes the upload from inside the reply itself: done a few times, so that tearing
    // the exchange down under the reply would show.
    server().addFault(fault(u"POST"_s, u"/v1/uploads"_s, u"delay"_s, 500, -1, 20000));
    for (int attempt = 0; attempt < 4; ++attempt) {
        CancellationToken stop;
        QTimer::singleShot(150, [stop] { stop.cancel(); });
        EXPECT_EQ(transportFailure([&] { return AnalysisEndpoints::uploadAudio(audioFile(u"a.wav"_s, sineWAV(2.0)), m_bearer, stop); }),
                  QNetworkReply::OperationCanceledError);
        EXPECT_EQ(leftovers(), QStringList());
    }

    // The service takes nothing for a while: the client is stuck with most of a large body
    // unsent when the stop comes. No file and no open connection may stay behind. (The uploads
    // above started whatever lasts for the process, the upload thread among it.)
    const QUrl large = sparseFile(u"long.wav"_s, 64 << 20);
    const qsizetype descriptorsBefore = openDescriptors();
    CancellationToken stop;
    QTimer::singleShot(300, [stop] { stop.cancel(); });
    EXPECT_EQ(transportFailure([&] { return AnalysisEndpoints::uploadAudio(large, m_bearer, stop); }), QNetworkReply::OperationCanceledError);

    // A FIFO blocks open() until something writes to it, as a hung network mount would: the
    // caller's thread must stay free, so that the stop can come and end the upload. A guard
    // unblocks the FIFO after a while should the caller's thread be stuck in it.
    const QString path = m_files.filePath(u"pipe.wav"_s);
    ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    const auto unblock = [&path] {
        const int writer = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_NONBLOCK);
        if (writer >= 0)
            ::close(writer);
        return writer >= 0;
    };
    std::promise<void> ended;
    auto guard = std::async(std::launch::async, [&unblock, ended = ended.get_future()] {
        return ended.wait_for(std::chrono::seconds(10)) == std::future_status::timeout && unblock();
    });
    CancellationToken fifoStop;
    QTimer::singleShot(200, [fifoStop] { fifoStop.cancel(); });
    EXPECT_EQ(transportFailure([&] { return AnalysisEndpoints::uploadAudio(QUrl::fromLocalFile(path), m_bearer, fifoStop); }),
              QNetworkReply::OperationCanceledError);
    ended.set_value();
    EXPECT_FALSE(guard.get()) << "the caller's thread waited in open() until the FIFO was written to";
    unblock(); // once the FIFO opens, whatever opened it lets it go

    // The connections and the sources close on the upload thread, soon after.
    EXPECT_TRUE(QTest::qWaitFor([&] { return openDescriptors() <= descriptorsBefore; }, 10000))
        << "an upload's connection or source file is still open";
    server().clearFaults();

    // The server reads a little, refuses, and closes with most of the body unread: the client's
    // next write fails, but the refusal has already arrived and is what the user must see.
    TinyPeer peer([](const QByteArray &) {
        return QByteArray("HTTP/1.1 413 Payload Too Large\r\nContent-Type: application/json\r\nContent-Length: 21\r\n"
                          "Connection: close\r\n\r\n{\"error\":\"too large\"}");
    }, 16 * 1024);
    platform::Settings::standard().setValue(u"baseURL"_s, u"http://127.0.0.1:%1"_s.arg(peer.server.serverPort()));
    const QUrl file = audioFile(u"big.wav"_s, randomBytes(5 << 20));
    for (int attempt = 0; attempt < 3; ++attempt) {
        SCOPED_TRACE(attempt);
        const auto error = failureOf<APIError>([&] { return AnalysisEndpoints::uploadAudio(file, m_bearer); });
        ASSERT_TRUE(error);
        EXPECT_EQ(error->description(), u"Server error 413: {\"error\":\"too large\"}"_s);
    }
}

TEST_F(AnalysisEndpointsTest, throughAProxyOrToAnUntrustedServerAnUploadGoesLikeEveryOtherCall)
{
    // A proxy that forwards plain HTTP but refuses tunnels, as many do by default: the upload
    // goes to it in absolute form with the proxy's credentials, like the service's other calls.
    TinyPeer proxy([](const QByteArray &received) {
        if (received.startsWith("CONNECT "))
            return QByteArray("HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n");
        if (!received.endsWith("--\r\n")) // the body's last line
            return QByteArray();
        return QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 24\r\n\r\n{\"upload_id\":\"proxied\"}\n");
    });
    QNetworkProxy::setApplicationProxy(QNetworkProxy(QNetworkProxy::HttpProxy, u"127.0.0.1"_s, proxy.server.serverPort(),
                                                     u"user"_s, u"secret"_s));
    // Loopback addresses never go through a proxy; this name is never looked up either.
    platform::Settings::standard().setValue(u"baseURL"_s, u"http://service.invalid:8123"_s);
    QString uploadID;
    try {
        uploadID = test::run(AnalysisEndpoints::uploadAudio(audioFile(u"a.wav"_s, sineWAV(0.1)), m_bearer));
    } catch (const std::exception &error) {
        ADD_FAILURE() << describe(error).toStdString();
    }
    QNetworkProxy::setApplicationProxy(QNetworkProxy());
    EXPECT_EQ(uploadID, u"proxied"_s);
    const QByteArray head = proxy.received.left(proxy.received.indexOf("\r\n\r\n") + 2);
    EXPECT_TRUE(head.startsWith("POST http://service.invalid:8123/v1/uploads HTTP/1.1\r\n") && head.contains("\r\nHost: service.invalid:8123\r\n")
                && head.contains("\r\nProxy-Authorization: Basic " + QByteArray("user:secret").toBase64() + "\r\n")) << head.toStdString();

    // An untrusted server fails the upload with the same text as any other call.
    const QSslConfiguration trusted = QSslConfiguration::defaultConfiguration();
    QSslConfiguration untrusted = trusted;
    untrusted.setCaCertificates(QSslConfiguration::systemCaCertificates());
    QSslConfiguration::setDefaultConfiguration(untrusted);
    DevServer::sharedTls().useAsService();
    const auto uploadError = failureOf<TransportError>(
        [&] { return AnalysisEndpoints::uploadAudio(audioFile(u"a.wav"_s, sineWAV(0.05)), m_bearer); });
    const auto otherError = failureOf<TransportError>([&] { return AnalysisEndpoints::jobInfo(u"j-1"_s, m_bearer); });
    QSslConfiguration::setDefaultConfiguration(trusted);
    ASSERT_TRUE(uploadError && otherError);
    EXPECT_EQ(uploadError->code(), QNetworkReply::SslHandshakeFailedError);
    EXPECT_EQ(std::pair(otherError->code(), otherError->description()), std::pair(uploadError->code(), uploadError->description()));
}

} // namespace
