#include "analysis/AnalysisEndpoints.h"

#include "analysis/FileError.h"
#include "analysis/MultipartBody.h"
#include "diagnostics/DiagnosticsLogger.h"
#include "platform/Settings.h"
#include "service/APIClient.h"
#include "service/APIError.h"

#include <QCoroFuture>
#include <QCoroNetworkReply>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QStringDecoder>
#include <QUuid>
#include <QtConcurrent>

#include <exception>
#include <memory>

namespace vorlik::analysis {
namespace {

using service::APIClient;
using service::APIError;
using service::APIResponse;

QString bodyText(const QByteArray &body)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(body);
    return decoder.hasError() ? QString() : text;
}

// The string member `key` of a JSON object body, if the body is one and the member a string.
std::optional<QString> stringMember(const QByteArray &body, const QString &key)
{
    const QJsonDocument document = QJsonDocument::fromJson(body);
    if (!document.isObject())
        return std::nullopt;
    const QJsonValue value = document.object().value(key);
    if (!value.isString())
        return std::nullopt;
    return value.toString();
}

QString jobPath(const QString &jobID, const char *suffix = "")
{
    return QStringLiteral("/v1/jobs/") + jobID + QLatin1String(suffix);
}

// Same rule as the request frame: an answer from an HTTP server, even a 4xx/5xx one, is a
// response; a connection that failed, timed out or broke off mid-body is a transport error.
bool isHTTPResponse(const QNetworkReply &reply, bool hasStatus)
{
    if (!hasStatus)
        return false;
    const int code = reply.error();
    return code == QNetworkReply::NoError || (code >= 201 && code <= 299) || (code >= 401 && code <= 499);
}

void logUpload(const QString &message)
{
    if (platform::Settings::standard().diagnosticsEnabled())
        diagnostics::DiagnosticsLogger::shared().log(QStringLiteral("api"), QStringLiteral("POST /v1/uploads ") + message);
}

// The user's temporary folder. Qt answers an empty path when TMPDIR names no folder, which
// would put the body in the working directory; the folder as named then fails to open instead.
QString temporaryFolder()
{
    const QString folder = QDir::tempPath();
    if (!folder.isEmpty())
        return folder;
    return qEnvironmentVariable("TMPDIR", QStringLiteral("/tmp"));
}

// Removes the upload's temporary file on every way out of the upload, once it exists.
class TemporaryFileRemover {
public:
    void arm(const QString &path) { m_path = path; }
    ~TemporaryFileRemover()
    {
        if (!m_path.isEmpty())
            QFile::remove(m_path); // a failure to clean up is not the upload's failure
    }

private:
    QString m_path;
};

// The body file made by writeBody: whether it was created (and so is ours to remove), and what
// went wrong, carried back to the upload as it was thrown.
struct BodyWriting {
    bool created = false;
    std::exception_ptr error;
};

BodyWriting writeBody(const QString &bodyPath, const QString &sourcePath, const QString &fileName,
                      const QString &boundary)
{
    BodyWriting outcome;
    try {
        QFile body(bodyPath);
        // Created exclusively and readable by the user alone: the temporary folder may be shared.
        if (!body.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered,
                       QFileDevice::ReadOwner | QFileDevice::WriteOwner))
            throw FileError(FileError::Operation::create, QDir::toNativeSeparators(bodyPath), body);
        outcome.created = true;
        MultipartBody::write(body, sourcePath, fileName, boundary);
        body.close();
    } catch (...) {
        outcome.error = std::current_exception();
    }
    return outcome;
}

// The upload's own network session, which owns the reply and the body file. It is deleted from
// the event loop, never on the spot: this coroutine may be resumed from inside the reply (its
// abort() emits finished() at once), and deleting the reply there would pull it out from under
// its own call. A reply still running is aborted quietly first: nothing may resume a coroutine
// that is being torn down.
struct LaterSessionDeleter {
    void operator()(QNetworkAccessManager *session) const
    {
        for (QNetworkReply *reply : session->findChildren<QNetworkReply *>()) {
            QObject::disconnect(reply, nullptr, nullptr, nullptr);
            if (reply->isRunning())
                reply->abort();
        }
        session->deleteLater();
    }
};

} // namespace

QCoro::Task<QString> AnalysisEndpoints::uploadAudio(QUrl fileURL, QString bearer, CancellationToken cancellation,
                                                    UploadProgress onProgress)
{
    const QString boundary = MultipartBody::makeBoundary();
    const QString bodyPath = QDir(temporaryFolder())
                                 .filePath(QStringLiteral("vorlik-upload-")
                                           + QUuid::createUuid().toString(QUuid::WithoutBraces)
                                           + QStringLiteral(".multipart"));
    TemporaryFileRemover remover;
    // Off the main thread: copying a large file takes long enough to be felt in the window.
    QFuture<BodyWriting> writing = QtConcurrent::run(writeBody, bodyPath, fileURL.toLocalFile(), fileURL.fileName(), boundary);
    co_await writing;
    const BodyWriting written = writing.result();
    if (written.created)
        remover.arm(bodyPath);
    if (written.error)
        std::rethrow_exception(written.error);

    // A session of its own for this one upload, gone with it.
    const std::unique_ptr<QNetworkAccessManager, LaterSessionDeleter> session(new QNetworkAccessManager);
    auto *upload = new QFile(bodyPath, session.get());
    if (!upload->open(QIODevice::ReadOnly))
        throw FileError(FileError::Operation::open, QDir::toNativeSeparators(bodyPath), *upload);

    QNetworkRequest request(APIClient::url(QStringLiteral("/v1/uploads")));
    // One limit for the whole exchange: Qt's transfer timeout counts from the last progress,
    // which suits a long upload on a slow uplink.
    request.setTransferTimeout(uploadTimeoutSeconds * 1000);
    request.setRawHeader(QByteArrayLiteral("Content-Type"),
                         QByteArrayLiteral("multipart/form-data; boundary=") + boundary.toUtf8());
    request.setRawHeader(QByteArrayLiteral("Authorization"), QByteArrayLiteral("Bearer ") + bearer.toUtf8());

    QElapsedTimer clock;
    clock.start();
    QNetworkReply *reply = session->post(request, upload);
    const CancellationToken::Registration stop = cancellation.onCancel([reply] { reply->abort(); });
    if (onProgress) {
        // Qt says -1 for the total until it knows it, and 0 of 0 once the exchange is over.
        QObject::connect(reply, &QNetworkReply::uploadProgress, reply, [onProgress](qint64 sent, qint64 total) {
            if (total > 0)
                onProgress(sent, total);
        });
    }

    co_await reply;

    const QVariant statusAttribute = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!isHTTPResponse(*reply, statusAttribute.isValid())) {
        if (reply->error() != QNetworkReply::NoError) {
            service::TransportError failure(reply->error(), reply->errorString());
            logUpload(QStringLiteral("ERROR ") + failure.description());
            throw failure;
        }
        logUpload(QStringLiteral("ERROR ") + APIError::noData().description());
        throw APIError::noData();
    }
    const int status = statusAttribute.toInt();
    const QByteArray answer = reply->readAll();
    logUpload(QStringLiteral("-> ") + QString::number(status) + QStringLiteral(" in ")
              + QString::number(clock.elapsed()) + QStringLiteral("ms"));
    if (status != 200)
        throw APIError::badStatus(status, bodyText(answer));
    const std::optional<QString> uploadID = stringMember(answer, QStringLiteral("upload_id"));
    if (!uploadID)
        throw APIError::decoding(QStringLiteral("Upload response missing upload_id."));
    co_return *uploadID;
}

QCoro::Task<QString> AnalysisEndpoints::processUpload(QString uploadID, QString workflow, QString bearer)
{
    const QByteArray body =
        QJsonDocument(QJsonObject{{QStringLiteral("workflow"), workflow}}).toJson(QJsonDocument::Compact);
    const APIResponse response =
        co_await APIClient::request(jobPath(uploadID, "/process"), QByteArrayLiteral("POST"), body, bearer);
    if (response.status != 202)
        throw APIError::badStatus(response.status, bodyText(response.body));
    const std::optional<QString> jobID = stringMember(response.body, QStringLiteral("job_id"));
    if (!jobID)
        throw APIError::decoding(QStringLiteral("Process response missing job_id."));
    co_return *jobID;
}

QCoro::Task<JobInfo> AnalysisEndpoints::jobInfo(QString jobID, QString bearer)
{
    const APIResponse response =
        co_await APIClient::request(jobPath(jobID), QByteArrayLiteral("GET"), std::nullopt, bearer);
    if (response.status != 200)
        throw APIError::badStatus(response.status, bodyText(response.body));
    try {
        co_return JobInfo::fromJSON(response.body);
    } catch (const service::DecodingError &error) {
        throw APIError::decoding(error.description());
    }
}

QCoro::Task<QByteArray> AnalysisEndpoints::downloadReport(QString jobID, QString bearer)
{
    const APIResponse response = co_await APIClient::request(jobPath(jobID, "/download/report"),
                                                             QByteArrayLiteral("GET"), std::nullopt, bearer);
    if (response.status != 200)
        throw APIError::badStatus(response.status, bodyText(response.body));
    co_return response.body;
}

QCoro::Task<void> AnalysisEndpoints::cancelJob(QString jobID, QString bearer)
{
    const APIResponse response = co_await APIClient::request(jobPath(jobID, "/cancel"), QByteArrayLiteral("POST"),
                                                             std::nullopt, bearer);
    if (response.status != 200 && response.status != 202 && response.status != 404)
        throw APIError::badStatus(response.status, QStringLiteral("Job cancel failed."));
}

} // namespace vorlik::analysis
