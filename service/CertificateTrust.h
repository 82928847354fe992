#pragma once
// Extra certificate authorities for tests and local runs against the stand-in service: the
// setting "testCACertificates" names a PEM file whose certificates are added to the ones Qt
// trusts by default. Certificate checks stay on; nothing else is trusted. Call it at start,
// before the first HTTPS request (Qt keeps a connection's configuration for its lifetime).
#include <QString>

namespace vorlik::platform {
class Settings;
}

namespace vorlik::service {

struct CertificateTrust {
    static constexpr const char *settingKey = "testCACertificates";

    // Adds the certificates of the named file; returns how many were added (0 when the
    // setting is absent). A file that cannot be read or holds none is reported in `problem`.
    static int applyFromSettings(const platform::Settings &settings, QString *problem = nullptr);
    static int addAuthorities(const QString &pemPath, QString *problem = nullptr);
};

} // namespace vorlik::service
