#include "app/cli/Commands.h"

#include "app/cli/AnalyseCommand.h"
#include "app/cli/ConnectCommand.h"
#include "app/cli/ConvertCommand.h"
#include "app/cli/FFmpegCommand.h"
#include "app/cli/ForgetKeyCommand.h"
#include "app/cli/LogoutCommand.h"
#include "app/cli/PresetsCommand.h"
#include "app/cli/RememberKeyCommand.h"
#include "app/cli/UpdateCommand.h"

#include "platform/BuildInfo.h"
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

} // namespace

QCoro::Task<int> runCommand(CommandLine line, QTextStream &out, QTextStream &err, InterruptWatch &interrupt)
{
    if (line.command == QLatin1String("health"))
        co_return co_await health(out, err);
    if (line.command == QLatin1String("connect"))
        co_return co_await runConnectCommand(line, out, err);
    if (line.command == QLatin1String("presets"))
        co_return co_await runPresetsCommand(line, out, err);
    if (line.command == QLatin1String("analyse"))
        co_return co_await analyseCommand(line, out, err, interrupt);
    if (line.command == QLatin1String("logout"))
        co_return co_await runLogoutCommand(line, out, err);
    if (line.command == QLatin1String("remember-key"))
        co_return co_await runRememberKeyCommand(line, out, err);
    if (line.command == QLatin1String("forget-key"))
        co_return co_await runForgetKeyCommand(line, out, err);
    if (line.command == QLatin1String("update"))
        co_return co_await runUpdateCommand(line, out, err);
    if (line.command == QLatin1String("ffmpeg"))
        co_return co_await runFFmpegCommand(line, out, err);
    if (line.command == QLatin1String("convert"))
        co_return co_await runConvertCommand(line, out, err, interrupt);
    err << "vorlik: unknown command '" << line.command << "'" << Qt::endl;
    co_return exitUsage;
}

} // namespace vorlik::app
