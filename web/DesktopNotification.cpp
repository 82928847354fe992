#include "web/DesktopNotification.h"

#include "platform/BuildInfo.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QStringList>
#include <QVariantMap>

namespace vorlik::web {

void DesktopNotification::post() const
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(QString::fromLatin1(service), QString::fromLatin1(path),
                                                       QString::fromLatin1(interface), QStringLiteral("Notify"));
    const QVariantMap hints{{QStringLiteral("x-vorlik-identifier"), identifier}};
    call << platform::appName() // app_name
         << quint32(0)          // replaces_id: a new notice
         << QString()           // app_icon
         << title << body
         << QStringList()       // actions
         << hints
         << qint32(-1);         // expire_timeout: the service's default
    bus.asyncCall(call);
}

} // namespace vorlik::web
