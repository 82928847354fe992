#pragma once
// The service's analysis endpoints (uploads, jobs, reports, cancel) and their admin hooks for
// tests (how the next jobs behave, releasing hanging jobs, the job list). See README.md.
#include "devserver/AdminRoutes.h"
#include "devserver/AudioAnalyzer.h"
#include "devserver/HttpServer.h"
#include "devserver/JobBehaviour.h"
#include "devserver/JobStore.h"
#include "devserver/TokenStore.h"
#include "devserver/UploadStore.h"

namespace vorlik::devserver {

class AnalysisRoutes {
public:
    // The file of one upload may hold at most this many bytes (128 MiB).
    static constexpr qint64 uploadLimitBytes = 134217728;

    AnalysisRoutes(TokenStore &tokens, const QString &dataPath, qint64 defaultJobDelayMs);
    // Installs the endpoints, and makes DELETE /admin/faults forget the job behaviours too.
    void install(HttpServer &server, AdminRoutes &admin);

private:
    void upload(Exchange &exchange);
    void process(Exchange &exchange);
    void jobStatus(Exchange &exchange);
    void downloadReport(Exchange &exchange);
    void cancel(Exchange &exchange);

    TokenStore &m_tokens;
    JobBehaviours m_behaviours;
    AudioAnalyzer m_analyzer;
    UploadStore m_uploads;
    JobStore m_jobs; // last: its workers stop before what they use goes away
};

} // namespace vorlik::devserver
