#include "devserver/AnalysisRoutes.h"

#include "devserver/UploadFile.h"

#include <QJsonArray>

namespace vorlik::devserver {

AnalysisRoutes::AnalysisRoutes(TokenStore &tokens, const QString &dataPath, qint64 defaultJobDelayMs)
    : m_tokens(tokens), m_behaviours(defaultJobDelayMs), m_uploads(dataPath), m_jobs(dataPath, m_behaviours, m_analyzer)
{
}

void AnalysisRoutes::install(HttpServer &server, AdminRoutes &admin)
{
    server.route(QStringLiteral("POST"), QStringLiteral("/v1/uploads"), [this](Exchange &e) { upload(e); });
    server.route(QStringLiteral("POST"), QStringLiteral("/v1/jobs/{}/process"), [this](Exchange &e) { process(e); });
    server.route(QStringLiteral("GET"), QStringLiteral("/v1/jobs/{}"), [this](Exchange &e) { jobStatus(e); });
    server.route(QStringLiteral("GET"), QStringLiteral("/v1/jobs/{}/download/report"),
                 [this](Exchange &e) { downloadReport(e); });
    server.route(QStringLiteral("POST"), QStringLiteral("/v1/jobs/{}/cancel"), [this](Exchange &e) { cancel(e); });

    server.route(QStringLiteral("POST"), QStringLiteral("/admin/jobs"), [this](Exchange &exchange) {
        const auto body = exchange.readJsonObject();
        if (!body)
            return;
        QString error;
        const auto behaviour = JobBehaviour::fromJson(*body, error);
        if (!behaviour) {
            exchange.error(400, error);
            return;
        }
        m_behaviours.add(*behaviour);
        exchange.json(200, QJsonObject{{QStringLiteral("ok"), true}});
    });
    server.route(QStringLiteral("GET"), QStringLiteral("/admin/jobs"), [this](Exchange &exchange) {
        QJsonArray behaviours;
        for (const JobBehaviour &behaviour : m_behaviours.list())
            behaviours.append(behaviour.toJson());
        exchange.json(200, QJsonObject{{QStringLiteral("jobs"), m_jobs.list()},
                                       {QStringLiteral("behaviours"), behaviours}});
    });
    server.route(QStringLiteral("POST"), QStringLiteral("/admin/jobs/release"), [this](Exchange &exchange) {
        exchange.json(200, QJsonObject{{QStringLiteral("released"), m_jobs.releaseHanging()}});
    });
    admin.alsoOnClearFaults([this] { m_behaviours.clear(); });
}

void AnalysisRoutes::upload(Exchange &exchange)
{
    const auto identity = exchange.authenticate(m_tokens);
    if (!identity)
        return;
    if (!exchange.request.is_multipart_form_data()) {
        exchange.error(400, QStringLiteral("the body must be multipart/form-data with a \"file\" field"));
        return;
    }
    const httplib::ContentReader *reader = exchange.takeReader();
    if (!reader) {
        exchange.error(400, QStringLiteral("the body is empty"));
        return;
    }
    m_uploads.sweep();
    // Named variables, not a structured binding: clang 14 cannot capture one in the lambdas below.
    const std::pair<QString, QString> reserved = m_uploads.reserve();
    const QString &uploadID = reserved.first;
    const QString &path = reserved.second;
    std::optional<UploadFile> file;
    QString fileName;
    bool inFile = false;
    // Read to the end whatever comes, so the client always gets the answer rather than a
    // connection closed under its request; bytes past the limit are counted, not kept.
    const bool wellFormed = (*reader)(
        [&](const httplib::MultipartFormData &part) {
            inFile = part.name == "file" && !file;
            if (inFile) {
                fileName = QString::fromStdString(part.filename);
                file.emplace(path, uploadLimitBytes);
            }
            return true;
        },
        [&](const char *data, size_t length) {
            if (inFile)
                file->append(data, qint64(length));
            return true;
        });
    if (!wellFormed) {
        exchange.error(400, QStringLiteral("the multipart body is malformed"));
        return;
    }
    if (!file) {
        exchange.error(400, QStringLiteral("the form has no \"file\" field"));
        return;
    }
    if (file->overLimit()) {
        exchange.error(413, QStringLiteral("the file is larger than the 128 MiB upload limit (%1 bytes)").arg(uploadLimitBytes));
        return;
    }
    if (!file->finish()) {
        exchange.error(500, QStringLiteral("the upload could not be stored: ") + file->error());
        return;
    }
    file->keep();
    if (fileName.trimmed().isEmpty())
        fileName = QStringLiteral("audio");
    m_uploads.add(UploadStore::Upload{uploadID, identity->clientId, fileName, path, file->size()});
    exchange.json(200, QJsonObject{{QStringLiteral("upload_id"), uploadID},
                                   {QStringLiteral("file_name"), fileName},
                                   {QStringLiteral("size_bytes"), file->size()}});
}

void AnalysisRoutes::process(Exchange &exchange)
{
    const auto identity = exchange.authenticate(m_tokens);
    if (!identity)
        return;
    const auto body = exchange.readJsonObject();
    if (!body)
        return;
    const QJsonValue workflow = body->value(QStringLiteral("workflow"));
    if (!workflow.isString()) {
        exchange.error(400, QStringLiteral("\"workflow\" must be a string"));
        return;
    }
    if (workflow.toString() != QStringLiteral("audio_info")) {
        exchange.error(400, QStringLiteral("unknown workflow \"%1\" (this service runs audio_info)").arg(workflow.toString()));
        return;
    }
    const auto upload = m_uploads.take(exchange.params.at(0), identity->clientId);
    if (!upload) {
        exchange.error(404, QStringLiteral("unknown upload (an upload starts one job only)"));
        return;
    }
    const QString jobID = m_jobs.start(*upload, workflow.toString());
    exchange.json(202, QJsonObject{{QStringLiteral("job_id"), jobID},
                                   {QStringLiteral("status"), JobStore::stateName(JobStore::State::queued)}});
}

void AnalysisRoutes::jobStatus(Exchange &exchange)
{
    const auto identity = exchange.authenticate(m_tokens);
    if (!identity)
        return;
    const auto document = m_jobs.status(exchange.params.at(0), identity->clientId);
    if (!document) {
        exchange.error(404, QStringLiteral("unknown job"));
        return;
    }
    exchange.json(200, *document);
}

void AnalysisRoutes::downloadReport(Exchange &exchange)
{
    const auto identity = exchange.authenticate(m_tokens);
    if (!identity)
        return;
    const auto report = m_jobs.report(exchange.params.at(0), identity->clientId);
    if (!report) {
        exchange.error(404, QStringLiteral("unknown job"));
        return;
    }
    if (report->first != JobStore::State::completed) {
        exchange.error(409, QStringLiteral("the job has no report (status %1)").arg(JobStore::stateName(report->first)));
        return;
    }
    exchange.raw(200, report->second, "text/plain; charset=utf-8");
}

void AnalysisRoutes::cancel(Exchange &exchange)
{
    const auto identity = exchange.authenticate(m_tokens);
    if (!identity)
        return;
    const QString jobID = exchange.params.at(0);
    const auto [outcome, state] = m_jobs.cancel(jobID, identity->clientId);
    const QJsonObject answer{{QStringLiteral("job_id"), jobID}, {QStringLiteral("status"), JobStore::stateName(state)}};
    switch (outcome) {
    case JobStore::CancelOutcome::unknown:
        exchange.error(404, QStringLiteral("unknown job"));
        return;
    case JobStore::CancelOutcome::requested:
        exchange.json(202, answer);
        return;
    case JobStore::CancelOutcome::alreadyEnded:
        exchange.json(200, answer);
        return;
    }
}

} // namespace vorlik::devserver
