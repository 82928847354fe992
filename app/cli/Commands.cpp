#include "app/cli/Commands.h"

#include "app/cli/AnalyseCommand.h"

#include "platform/BuildInfo.h"
#include "platform/Failure.h"
#include "service/APIClient.h"

namespace vorlik::app {
namespace {

using service::APIClient;

// "1.2.24 (27) · Server devserver 1.0", as the window's build tag reads.
QString buildTag(const std::optional<QString> &serverBuild)
{
    QString tag = platform::appVersion() + QStringLiteral(" (") + QString::number(platform::buildNumber())
        + QLatin1Char(')');
    if (serverBuild)
        tag += QStringLiteral(" · Server ") + *serverBuild;
    return tag;
}

QCoro::Task<int> health(QTextStream &out, QTextStream &err)
{
    const std::optional<QString> build = co_await APIClient::serverBuild();
    out << buildTag(build) << Qt::endl;
    if (!build) {
        err << "✗ The server build is unknown (no answer from " << APIClient::baseURL().toString() << ")"
            << Qt::endl;
        co_return 1;
    }
    co_return 0;
}

QCoro::Task<int> connectAndList(const CommandLine &line, bool listPresets, QTextStream &out, QTextStream &err)
{
    const QString key = line.key.value_or(QString());
    if (key.trimmed().isEmpty()) {
        out << "Sign in failed" << Qt::endl;
        err << "✗ Enter your client key first." << Qt::endl;
        co_return 1;
    }
    out << "Connecting…" << Qt::endl;
    try {
        const service::Session session = co_await APIClient::activate(key);
        const service::PresetsPayload payload = co_await APIClient::fetchPresets(session.accessToken);
        out << "Connected — " << session.clientId << Qt::endl;
        if (listPresets) {
            for (const service::Preset &preset : payload.presets)
                out << preset.id << '\t' << preset.kind << '\t' << preset.name << Qt::endl;
            out << "✓ " << payload.presets.size() << " presets" << Qt::endl;
        }
    } catch (const std::exception &error) {
        out << "Sign in failed" << Qt::endl;
        err << "✗ " << describe(error) << Qt::endl;
        co_return 1;
    }
    co_return 0;
}

} // namespace

QCoro::Task<int> runCommand(CommandLine line, QTextStream &out, QTextStream &err)
{
    if (line.command == QLatin1String("health"))
        co_return co_await health(out, err);
    if (line.command == QLatin1String("connect"))
        co_return co_await connectAndList(line, false, out, err);
    if (line.command == QLatin1String("presets"))
        co_return co_await connectAndList(line, true, out, err);
    if (line.command == QLatin1String("analyse"))
        co_return co_await analyseCommand(line, out, err);
    err << "unknown command " << line.command << "\n\n" << CommandLine::usage();
    co_return 2;
}

} // namespace vorlik::app
