#pragma once
// The command line of vorlik-devserver, parsed into one value.
#include <QString>
#include <QStringList>

#include <optional>

namespace vorlik::devserver {

struct ServerOptions {
    int port = 0;                // 0: any free port
    QString dataPath;            // empty: a fresh temporary folder
    QStringList keys;            // accepted besides the demo key
    qint64 tokenLifetimeSeconds = 3600;
    QString tlsCertPath;
    QString tlsKeyPath;
    QStringList faultSpecs;      // --fault texts, parsed by FaultInjector
    qint64 jobDelayMs = 0;       // how long every analysis job takes at least
    QString updatesPath;         // --updates: latest.json and update images (empty: none)

    static constexpr const char *demoKey = "vk_demo_local_0000000000000000";

    // Parses argv (without the program name). Returns the options, or sets error and returns none.
    static std::optional<ServerOptions> parse(const QStringList &arguments, QString &error);
    static QString usage();
};

} // namespace vorlik::devserver
