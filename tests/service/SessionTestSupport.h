#pragma once
// The stand-in service knows a second client key, so that two different clients can connect.
#include "diagnostics/DiagnosticsLogger.h"
#include "platform/Failure.h"
#include "platform/Settings.h"
#include "service/SessionStore.h"
#include "tests/support/DevServer.h"
#include "tests/support/LogLines.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDirIterator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <optional>
#include <ostream>
#include <stdexcept>

namespace vorlik::test {

inline const QString secondKey = QStringLiteral("vk_second_client_key_000000000001");

inline DevServer &sessionServer() { return DevServer::shared({QStringLiteral("--key"), secondKey}); }

// Runs the task and returns the error of type Error it fails with (a test failure otherwise).
template <typename Error, typename Make>
std::optional<Error> failureOf(Make make)
{
    try {
        run(make());
        ADD_FAILURE() << "the call succeeded";
    } catch (const Error &error) {
        return error;
    } catch (const std::exception &error) {
        ADD_FAILURE() << "failed with another error: " << describe(error).toStdString();
    }
    return std::nullopt;
}

inline QJsonObject fault(const QString &method, const QString &path, const QString &action, int status = 500, int count = 1,
                         int delayMs = 0, const QString &body = {})
{
    QJsonObject spec{{"method", method}, {"path", path}, {"action", action}, {"status", status}, {"count", count}, {"delay_ms", delayMs}};
    if (!body.isNull())
        spec.insert(QStringLiteral("body"), body);
    return spec;
}

// The requests the service received to `path` since the last reset.
inline QList<QJsonObject> requestsTo(const QString &path)
{
    QList<QJsonObject> found;
    for (const QJsonValue &entry : sessionServer().requests())
        if (entry.toObject().value(QStringLiteral("path")).toString() == path)
            found.append(entry.toObject());
    return found;
}

// A request header as the service saw it, or "<absent>".
inline QString header(const QJsonObject &request, const QString &name)
{
    const QJsonObject headers = request.value(QStringLiteral("headers")).toObject();
    for (auto it = headers.begin(); it != headers.end(); ++it)
        if (it.key().compare(name, Qt::CaseInsensitive) == 0)
            return it.value().toString();
    return QStringLiteral("<absent>");
}

inline QString bearerOf(const QJsonObject &request)
{
    const QString value = header(request, QStringLiteral("Authorization"));
    return value.startsWith(QStringLiteral("Bearer ")) ? value.mid(7) : QString();
}

// Lets the event loop run until the service has received `count` requests to `path`, so that a
// test can act while they are held in flight by a delay fault. Gives up after a generous cap.
inline bool waitForRequests(const QString &path, qsizetype count = 1)
{
    return QTest::qWaitFor([&] { return requestsTo(path).size() >= count; }, 20000);
}

inline qint64 usageTotal() { return sessionServer().usage().value(QStringLiteral("total")).toInteger(); }

// A real session from the service, fetched outside the store.
inline QJsonObject activateOutside(const QString &key)
{
    const QJsonObject body{{"api_key", key}, {"installation_label", "test"}};
    const auto [status, answer] = sessionServer().call("POST", QStringLiteral("/v1/auth/activate"), QJsonDocument(body).toJson());
    EXPECT_EQ(status, 200);
    return QJsonDocument::fromJson(answer).object();
}

// The files under `root` (hidden ones included) whose bytes contain `secret` as UTF-8.
inline QStringList filesHolding(const QString &root, const QString &secret)
{
    QStringList found;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile file(it.next());
        if (file.open(QIODevice::ReadOnly) && file.readAll().contains(secret.toUtf8()))
            found.append(file.fileName());
    }
    return found;
}

class SessionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        sessionServer().reset();
        sessionServer().useAsService();
        platform::Settings::standard().setValue(QStringLiteral("vorlikDiag"), true);
    }

    void TearDown() override { sessionServer().reset(); }

    static DevServer &server() { return sessionServer(); }

    // Connects `store` with the demo key. Throws when that fails, which ends the test (an
    // assertion here would only end this helper, and the test would go on without a session).
    static void connectDemo(service::SessionStore &store)
    {
        run(store.connect(sessionServer().demoKey()));
        if (!store.state().isConnected() || !store.session())
            throw std::runtime_error("could not connect with the demo key: " + store.state().message.toStdString());
    }
};

} // namespace vorlik::test
