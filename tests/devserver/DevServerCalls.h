#pragma once
// Small helpers for talking to the stand-in service in its own tests, and its analysis endpoints
// as they call them: a multipart upload of a real file, a job on it, its status polled until it ends.
#include "tests/support/DevServer.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <utility>

namespace vorlik::test {

QJsonObject jsonObject(const QByteArray &body);
QByteArray jsonBody(const QJsonObject &object);
// The value at a path of keys and array indexes: at(job, "analysis/audio_streams/0/channels").
QJsonValue at(const QJsonValue &root, const char *path);
// A session for the demo key, as the server answers it.
QJsonObject activateDemo(const DevServer &server);

// "--B\r\n" + the part head for field `field` named `fileName` + content + "\r\n--B--\r\n".
QByteArray multipartBody(const QByteArray &boundary, const QByteArray &content,
                         const QString &fileName = QStringLiteral("audio.wav"),
                         const QByteArray &field = "file");
QByteArray multipartType(const QByteArray &boundary);

struct AnalysisCalls {
    const DevServer &server;
    QString bearer;

    RawReply upload(const QByteArray &content, const QString &fileName) const;
    // Uploads and starts a job on the file; returns the job id (empty when a step failed).
    QString startJob(const QString &path, const QString &fileName = {}) const;
    QJsonObject jobStatus(const QString &jobID) const;
    // Polls until COMPLETED, FAILED or CANCELLED (at most a minute); the last document seen.
    QJsonObject waitForEnd(const QString &jobID) const;
    // startJob + waitForEnd.
    QJsonObject analyse(const QString &path, const QString &fileName = {}) const;
    // POST /admin/jobs with a behaviour; fails the test when refused.
    void behave(const QJsonObject &behaviour) const;
    QJsonObject jobEntry(const QString &jobID) const; // the job in GET /admin/jobs
};

} // namespace vorlik::test
