#include "analysis/AnalysisEndpoints.h"

#include "analysis/FileError.h"
#include "analysis/Interruptible.h"
#include "analysis/MultipartBody.h"
#include "analysis/MultipartStream.h"
#include "analysis/SourceFile.h"
#include "analysis/StreamingUpload.h"
#include "diagnostics/DiagnosticsLogger.h"
#include "service/APIClient.h"
#include "service/APIError.h"
#include "service/JsonReader.h"

#include <QCoroFuture>
#include <QCoroSignal>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringDecoder>

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
    const QJsonDocument document = service::JsonReader::read(body);
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

void logUpload(const QString &message)
{
    if (diagnostics::DiagnosticsLogger::shared().isEnabled())
        diagnostics::DiagnosticsLogger::shared().log(QStringLiteral("api"), QStringLiteral("POST /v1/uploads ") + message);
}

// Deletes the upload from the event loop, never on the spot: the coroutine that owns it resumes
// from inside its finished() signal.
struct LaterDeleter {
    void operator()(StreamingUpload *upload) const
    {
        upload->disconnect();
        upload->abort();
        upload->deleteLater();
    }
};

service::TransportError cancelled()
{
    return service::TransportError(QNetworkReply::OperationCanceledError, QStringLiteral("Operation canceled"));
}

QCoro::Task<std::shared_ptr<SourceFile>> opened(QFuture<std::shared_ptr<SourceFile>> opening)
{
    co_return co_await opening;
}

} // namespace

QCoro::Task<QString> AnalysisEndpoints::uploadAudio(QUrl fileURL, QString bearer, CancellationToken cancellation,
                                                    UploadProgress onProgress)
{
    if (cancellation.isCancelled())
        throw cancelled();
    // Opened off this thread, which must never wait on the file system; a stop ends the wait
    // at once and the file, should it ever open, closes where it opened.
    QFuture<std::shared_ptr<SourceFile>> opening = SourceFile::open(fileURL.toLocalFile());
    QCoro::Task<std::shared_ptr<SourceFile>> waiting = opened(opening);
    std::shared_ptr<SourceFile> file;
    try {
        file = co_await interruptible(std::move(waiting), cancellation);
    } catch (const Interrupted &) {
        throw cancelled();
    }
    const QString boundary = MultipartBody::makeBoundary();
    // The body is read from the source as it is sent: no copy of the audio on disk or in memory.
    auto source = std::make_unique<MultipartStream>(std::move(*file), fileURL.fileName(), boundary);
    const MultipartStream *body = source.get(); // owned by the upload from here on
    const QList<std::pair<QByteArray, QByteArray>> headers{
        {QByteArrayLiteral("Content-Type"), QByteArrayLiteral("multipart/form-data; boundary=") + boundary.toUtf8()},
        {QByteArrayLiteral("Authorization"), QByteArrayLiteral("Bearer ") + bearer.toUtf8()}};

    QElapsedTimer clock;
    clock.start();
    // One limit for the whole exchange, counted from the last progress, which suits a long
    // upload on a slow uplink.
    const std::unique_ptr<StreamingUpload, LaterDeleter> upload(new StreamingUpload(
        APIClient::url(QStringLiteral("/v1/uploads")), headers, std::move(source), uploadTimeoutSeconds * 1000));
    const CancellationToken::Registration stop = cancellation.onCancel([&upload] { upload->abort(); });
    if (onProgress)
        QObject::connect(upload.get(), &StreamingUpload::progressed, upload.get(), onProgress);
    // finished() always comes from the event loop, so it cannot pass before the wait begins.
    auto ended = qCoro(upload.get(), &StreamingUpload::finished);
    upload->start();
    co_await ended;

    if (upload->bodyFailed() && body->failure())
        throw *body->failure();
    if (!upload->succeeded()) {
        service::TransportError failure(upload->error(), upload->errorText());
        logUpload(QStringLiteral("ERROR ") + failure.description());
        throw failure;
    }
    const int status = upload->status();
    const QByteArray answer = upload->answer();
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
