#include "platform/BuildInfo.h"
#include "BuildConstants.h"

#include <QSysInfo>

namespace vorlik::platform {

QString appVersion() { return QStringLiteral(VORLIK_APP_VERSION); }
int buildNumber() { return VORLIK_BUILD_NUMBER; }
QString appName() { return QStringLiteral("Vorlik Desktop"); }
QString bundleIdentifier() { return QStringLiteral("com.vorlik.desktop"); }

QString operatingSystemVersion()
{
    return QSysInfo::prettyProductName() + QStringLiteral(" (kernel ") + QSysInfo::kernelVersion()
        + QLatin1Char(')');
}

} // namespace vorlik::platform
