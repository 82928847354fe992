#pragma once
// A notice shown at once by the desktop's notification service (org.freedesktop.Notifications
// on the session bus). Without a session bus or a notification service nothing is shown.
#include <QString>

namespace vorlik::web {

struct DesktopNotification {
    QString identifier; // ours; handed to the service as the "x-vorlik-identifier" hint
    QString title;
    QString body;

    static constexpr const char *service = "org.freedesktop.Notifications";
    static constexpr const char *path = "/org/freedesktop/Notifications";
    static constexpr const char *interface = "org.freedesktop.Notifications";

    // Sends it without waiting for the service's answer.
    void post() const;
};

} // namespace vorlik::web
