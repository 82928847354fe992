#pragma once
#include <QString>

namespace vorlik::platform {

// The release this binary was built as ("1.2.24", build 27 for this release).
QString appVersion();
int buildNumber();

// "Vorlik Desktop 1.2.24 (27)"-style pieces shared by the log, About and the updater.
QString appName();
QString bundleIdentifier();

// The running system as a user would name it, e.g. "Debian GNU/Linux 12 (bookworm) (kernel 6.1.0)".
QString operatingSystemVersion();

} // namespace vorlik::platform
