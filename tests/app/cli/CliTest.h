#pragma once
// What the command-line client's tests share: the stand-in service, reset for each test, and
// the client run against it.
#include "tests/support/DevServer.h"
#include "tests/support/ProgramRun.h"

#include <gtest/gtest.h>

#include <QJsonDocument>

namespace vorlik::test {

inline ProgramRun cli(const QStringList &arguments, const ProgramSetting &setting = {})
{
    return runProgram(QStringLiteral(VORLIK_CLI_PATH), arguments, setting);
}

// The status and what each stream says (see `says`).
inline void expectRun(const ProgramRun &run, int status, const QString &out, const QString &err, const std::string &what)
{
    const std::string shown = what + "\nout: " + run.out.toStdString() + "\nerr: " + run.err.toStdString();
    EXPECT_EQ(run.status, status) << shown;
    EXPECT_TRUE(says(run.out, out)) << "out should say " << out.toStdString() << ": " << shown;
    EXPECT_TRUE(says(run.err, err)) << "err should say " << err.toStdString() << ": " << shown;
}

// Every one of `expected` is in `text`, in this order.
inline void expectInOrder(const QString &text, std::initializer_list<const char *> expected)
{
    qsizetype at = 0;
    for (const char *each : expected)
        ASSERT_GE(at = text.indexOf(QString::fromUtf8(each), at), 0)
            << "missing or out of order: " << each << "\nin:\n" << text.toStdString();
}

class CliTest : public ::testing::Test {
protected:
    void SetUp() override { server().reset(); }
    static DevServer &server() { return DevServer::shared(); }
    // The options that point the client at the service with `key`.
    static QStringList with(const QString &key)
    {
        return {QStringLiteral("--base-url"), server().baseUrl().toString(), QStringLiteral("--key"), key};
    }
    static QStringList signedIn() { return with(server().demoKey()); }

    // A bearer of the demo key's own, for the test's direct calls to the service.
    static QString bearer()
    {
        const QJsonObject fields{{QStringLiteral("api_key"), server().demoKey()},
                                 {QStringLiteral("installation_label"), QStringLiteral("Vorlik Desktop")}};
        const auto answer = server().call("POST", QStringLiteral("/v1/auth/activate"), QJsonDocument(fields).toJson());
        return QJsonDocument::fromJson(answer.second)[QStringLiteral("access_token")].toString();
    }

    // The requests the service logged for `path` (all of them for an empty one).
    static qsizetype requestsTo(const QString &path = {})
    {
        qsizetype count = 0;
        for (const QJsonValue &entry : server().requests())
            count += path.isEmpty() || entry[QStringLiteral("path")].toString() == path;
        return count;
    }
};

} // namespace vorlik::test
