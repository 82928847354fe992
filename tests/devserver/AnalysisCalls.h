#pragma once
// The stand-in service's analysis endpoints as its own tests call them: a multipart upload of a
// real file, a job started on it, and its status polled until it ends.
#include "tests/devserver/DevServerCalls.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

namespace vorlik::test {

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
