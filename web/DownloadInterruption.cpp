#include "web/DownloadInterruption.h"

namespace vorlik::web {

QString DownloadInterruption::describe(int reason, const QString &engineText)
{
    switch (reason) {
    case 1: return QStringLiteral("The file could not be written.");
    case 2: return QStringLiteral("Writing to the Downloads folder was not allowed.");
    case 3: return QStringLiteral("The disk is full.");
    case 5: return QStringLiteral("The file name is too long.");
    case 6: return QStringLiteral("The file is too large for the disk.");
    case 7: return QStringLiteral("The file was reported as infected.");
    case 10: return QStringLiteral("The file could not be written just now.");
    case 11: return QStringLiteral("The file was blocked.");
    case 12: return QStringLiteral("The file failed a security check.");
    case 13: return QStringLiteral("The file was shorter than expected.");
    case 14: return QStringLiteral("The file did not match its checksum.");
    case 20: return QStringLiteral("The network connection failed.");
    case 21: return QStringLiteral("The network timed out.");
    case 22: return QStringLiteral("The network connection was lost.");
    case 23: return QStringLiteral("The server went down.");
    case 24: return QStringLiteral("The request was not valid.");
    case 30: return QStringLiteral("The server reported an error.");
    case 31: return QStringLiteral("The server cannot resume the download.");
    case 33: return QStringLiteral("The server does not have the file.");
    case 34: return QStringLiteral("The server refused access to the file.");
    case 35: return QStringLiteral("The server's certificate was not valid.");
    case 36: return QStringLiteral("Access to the file was forbidden.");
    case 37: return QStringLiteral("The server could not be reached.");
    case 38: return QStringLiteral("The server sent less than it announced.");
    case 39: return QStringLiteral("The server redirected the download to another site.");
    case 40: return QStringLiteral("The download was cancelled.");
    case 41: return QStringLiteral("The application was shutting down.");
    case 50: return QStringLiteral("The browser engine stopped unexpectedly.");
    default:
        return engineText.isEmpty() ? QStringLiteral("The download failed.") : engineText;
    }
}

} // namespace vorlik::web
