#include "devserver/ServerOptions.h"

#include <QFile>

namespace vorlik::devserver {

namespace {

std::optional<qint64> parseInteger(const QString &text, qint64 minimum)
{
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    if (!ok || value < minimum)
        return std::nullopt;
    return value;
}

} // namespace

QString ServerOptions::usage()
{
    return QStringLiteral(
        "usage: vorlik-devserver [--port N] [--data DIR] [--key KEY]... [--keys FILE]\n"
        "                        [--token-lifetime SECONDS] [--tls-cert PEM --tls-key PEM]\n"
        "                        [--fault SPEC]... [--job-delay-ms N] [--updates DIR]\n");
}

std::optional<ServerOptions> ServerOptions::parse(const QStringList &arguments, QString &error)
{
    ServerOptions options;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString flag = arguments.at(i);
        if (flag == QStringLiteral("--help") || flag == QStringLiteral("-h")) {
            error = usage();
            return std::nullopt;
        }
        if (i + 1 >= arguments.size()) {
            error = flag + QStringLiteral(" needs a value (or is unknown)");
            return std::nullopt;
        }
        const QString value = arguments.at(++i);
        if (flag == QStringLiteral("--port")) {
            const auto port = parseInteger(value, 0);
            if (!port || *port > 65535) {
                error = QStringLiteral("--port wants 0 to 65535, not ") + value;
                return std::nullopt;
            }
            options.port = int(*port);
        } else if (flag == QStringLiteral("--data")) {
            options.dataPath = value;
        } else if (flag == QStringLiteral("--key")) {
            if (value.trimmed().isEmpty()) {
                error = QStringLiteral("--key wants a non-empty key");
                return std::nullopt;
            }
            options.keys << value;
        } else if (flag == QStringLiteral("--keys")) {
            QFile file(value);
            if (!file.open(QIODevice::ReadOnly)) {
                error = QStringLiteral("cannot read --keys file ") + value + QStringLiteral(": ") + file.errorString();
                return std::nullopt;
            }
            for (const QByteArray &line : file.readAll().split('\n')) {
                const QString key = QString::fromUtf8(line).trimmed();
                if (!key.isEmpty() && !key.startsWith(QLatin1Char('#')))
                    options.keys << key;
            }
        } else if (flag == QStringLiteral("--token-lifetime")) {
            const auto seconds = parseInteger(value, 1);
            if (!seconds) {
                error = QStringLiteral("--token-lifetime wants a whole number of seconds >= 1, not ") + value;
                return std::nullopt;
            }
            options.tokenLifetimeSeconds = *seconds;
        } else if (flag == QStringLiteral("--tls-cert")) {
            options.tlsCertPath = value;
        } else if (flag == QStringLiteral("--tls-key")) {
            options.tlsKeyPath = value;
        } else if (flag == QStringLiteral("--fault")) {
            options.faultSpecs << value;
        } else if (flag == QStringLiteral("--job-delay-ms")) {
            const auto ms = parseInteger(value, 0);
            if (!ms) {
                error = QStringLiteral("--job-delay-ms wants a whole number >= 0, not ") + value;
                return std::nullopt;
            }
            options.jobDelayMs = *ms;
        } else if (flag == QStringLiteral("--updates")) {
            options.updatesPath = value;
        } else {
            error = QStringLiteral("unknown flag ") + flag + QStringLiteral("\n") + usage();
            return std::nullopt;
        }
    }
    if (options.tlsCertPath.isEmpty() != options.tlsKeyPath.isEmpty()) {
        error = QStringLiteral("--tls-cert and --tls-key go together");
        return std::nullopt;
    }
    return options;
}

} // namespace vorlik::devserver
