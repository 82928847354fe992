#include "tests/devserver/DevServerCalls.h"

#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

namespace vorlik::test {

QJsonObject jsonObject(const QByteArray &body) { return QJsonDocument::fromJson(body).object(); }

QByteArray jsonBody(const QJsonObject &object) { return QJsonDocument(object).toJson(QJsonDocument::Compact); }

QJsonValue at(const QJsonValue &root, const char *path)
{
    QJsonValue value = root;
    for (const QString &key : QString::fromLatin1(path).split(QLatin1Char('/'))) {
        bool isIndex = false;
        const int index = key.toInt(&isIndex);
        value = isIndex ? value.toArray().at(index) : value.toObject().value(key);
    }
    return value;
}

QJsonObject activateDemo(const DevServer &server)
{
    const auto [status, body] = server.call(
        "POST", QStringLiteral("/v1/auth/activate"),
        jsonBody({{QStringLiteral("api_key"), server.demoKey()}, {QStringLiteral("installation_label"), QStringLiteral("Vorlik Desktop")}}));
    if (status != 200)
        throw std::runtime_error("activate answered " + std::to_string(status) + ": " + body.toStdString());
    return jsonObject(body);
}

QByteArray multipartBody(const QByteArray &boundary, const QByteArray &content, const QString &fileName,
                         const QByteArray &field)
{
    return "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + field + "\"; filename=\""
        + fileName.toUtf8() + "\"\r\nContent-Type: application/octet-stream\r\n\r\n" + content + "\r\n--" + boundary
        + "--\r\n";
}

QByteArray multipartType(const QByteArray &boundary) { return "multipart/form-data; boundary=" + boundary; }

RawReply AnalysisCalls::upload(const QByteArray &content, const QString &fileName) const
{
    const QByteArray boundary = "TestBoundary-5f1c";
    return rawCall(server.baseUrl(), "POST", QStringLiteral("/v1/uploads"), multipartBody(boundary, content, fileName),
                   bearer, multipartType(boundary));
}

QString AnalysisCalls::startJob(const QString &path, const QString &fileName) const
{
    const RawReply uploaded = upload(readFile(path), fileName.isEmpty() ? QFileInfo(path).fileName() : fileName);
    EXPECT_EQ(uploaded.status, 200) << uploaded.body.toStdString();
    const QString uploadID = jsonObject(uploaded.body).value(QStringLiteral("upload_id")).toString();
    const RawReply started = rawCall(server.baseUrl(), "POST", QStringLiteral("/v1/jobs/%1/process").arg(uploadID), R"({"workflow":"audio_info"})", bearer);
    EXPECT_EQ(started.status, 202) << started.body.toStdString();
    return jsonObject(started.body).value(QStringLiteral("job_id")).toString();
}

QJsonObject AnalysisCalls::jobStatus(const QString &jobID) const
{
    const RawReply reply = rawCall(server.baseUrl(), "GET", QStringLiteral("/v1/jobs/") + jobID, {}, bearer);
    EXPECT_EQ(reply.status, 200) << reply.body.toStdString();
    return jsonObject(reply.body);
}

QJsonObject AnalysisCalls::waitForEnd(const QString &jobID) const
{
    QJsonObject status;
    const auto ended = [&] {
        status = jobStatus(jobID);
        return QStringList{"COMPLETED", "FAILED", "CANCELLED"}.contains(status.value(QStringLiteral("status")).toString());
    };
    EXPECT_TRUE(QTest::qWaitFor(ended, 60000)) << "job " << jobID.toStdString() << " did not end";
    return status;
}

QJsonObject AnalysisCalls::analyse(const QString &path, const QString &fileName) const
{
    const QString jobID = startJob(path, fileName);
    return jobID.isEmpty() ? QJsonObject() : waitForEnd(jobID);
}

void AnalysisCalls::behave(const QJsonObject &behaviour) const
{
    const auto [status, body] = server.call("POST", QStringLiteral("/admin/jobs"), jsonBody(behaviour));
    ASSERT_EQ(status, 200) << body.toStdString();
}

QJsonObject AnalysisCalls::jobEntry(const QString &jobID) const
{
    const QJsonArray jobs = jsonObject(server.call("GET", QStringLiteral("/admin/jobs")).second).value(QStringLiteral("jobs")).toArray();
    for (const QJsonValue &job : jobs)
        if (job.toObject().value(QStringLiteral("job_id")).toString() == jobID)
            return job.toObject();
    return {};
}

} // namespace vorlik::test
