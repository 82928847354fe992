#pragma once
// The service's analysis endpoints: upload an audio file, start a job on the upload, read the
// job's status (and report), download the report text, cancel a job. They are the analysis half
// of service::APIClient, kept here beside the records they decode so that the service library
// does not depend on the analysis subsystem; four of them send through APIClient::request.
// Static coroutines with no shared state; each takes the bearer token explicitly, never retries,
// and passes transport errors (no connection, time-out, cancellation) through unchanged.
#include "platform/CancellationToken.h"
#include "analysis/JobInfo.h"

#include <QByteArray>
#include <QCoroTask>
#include <QString>
#include <QUrl>

#include <functional>

namespace vorlik::analysis {

using platform::CancellationToken;

class AnalysisEndpoints {
public:
    static constexpr int uploadTimeoutSeconds = 1800; // slow uplinks: 30 minutes per upload

    // POST "/v1/uploads": the file as a multipart body, read from the source as it is sent (no
    // copy on disk) over a connection of its own. 200 with a string "upload_id" gives that id.
    // `cancellation` aborts the exchange in flight (the caller then sees the "Operation
    // canceled" transport error). `onProgress` hears, on this thread, the bytes of the body sent
    // so far and its whole size, as the sending goes on.
    using UploadProgress = std::function<void(qint64 sent, qint64 total)>;
    static QCoro::Task<QString> uploadAudio(QUrl fileURL, QString bearer,
                                            CancellationToken cancellation = CancellationToken(),
                                            UploadProgress onProgress = {});

    // POST "/v1/jobs/" + id + "/process" with {"workflow": workflow}: 202 with a string "job_id".
    static QCoro::Task<QString> processUpload(QString uploadID, QString workflow, QString bearer);

    // GET "/v1/jobs/" + id: 200 with a decodable job status document.
    static QCoro::Task<JobInfo> jobInfo(QString jobID, QString bearer);

    // GET "/v1/jobs/" + id + "/download/report": 200; the body untouched.
    static QCoro::Task<QByteArray> downloadReport(QString jobID, QString bearer);

    // POST "/v1/jobs/" + id + "/cancel": 200, 202 or 404 (the job is already gone) succeed.
    static QCoro::Task<void> cancelJob(QString jobID, QString bearer);
};

} // namespace vorlik::analysis
