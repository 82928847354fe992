#include "update/UpdateError.h"

namespace vorlik::update {

UpdateError UpdateError::unavailable()
{
    return UpdateError(serverUnavailable, QStringLiteral("The update server is unavailable."));
}

UpdateError UpdateError::unopenableImage()
{
    return UpdateError(imageUnopenable, QStringLiteral("Could not open the update disk image."));
}

UpdateError UpdateError::missingAppBundle()
{
    return UpdateError(noAppBundle, QStringLiteral("The update disk image has no app bundle."));
}

UpdateError UpdateError::unreadableInfo()
{
    return UpdateError(unreadableInfoPlist, QStringLiteral("The update bundle has no readable Info.plist."));
}

UpdateError UpdateError::notVorlikDesktop()
{
    return UpdateError(foreignBundle, QStringLiteral("The update bundle is not Vorlik Desktop."));
}

UpdateError UpdateError::versionDiffers(const QString &bundle, const QString &manifest)
{
    return UpdateError(versionMismatch, QStringLiteral("The update bundle version (") + bundle
                                            + QStringLiteral(") does not match the manifest (") + manifest
                                            + QStringLiteral(")."));
}

UpdateError UpdateError::buildDiffers(const QString &bundle, qint64 manifest)
{
    return UpdateError(buildMismatch, QStringLiteral("The update bundle build (") + bundle
                                          + QStringLiteral(") does not match the manifest (")
                                          + QString::number(manifest) + QStringLiteral(")."));
}

UpdateError UpdateError::cannotMoveAside(const QString &cause)
{
    return UpdateError(moveAsideFailed, QStringLiteral("Could not move the current app aside — ") + cause);
}

UpdateError UpdateError::copyFailedRestored(const QString &cause)
{
    return UpdateError(copyFailed, QStringLiteral("Copy failed and the previous version was restored — ") + cause);
}

UpdateError UpdateError::notRunningFromBundle(const QString &program)
{
    return UpdateError(notInBundle, QStringLiteral("Vorlik Desktop is not running from its app bundle (") + program
                                        + QStringLiteral("), so it cannot replace itself with the update."));
}

} // namespace vorlik::update
