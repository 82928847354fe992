#include "ffmpeg/InstallError.h"

namespace vorlik::ffmpeg {

InstallError InstallError::checksum()
{
    return InstallError(checksumMismatch, QStringLiteral("Downloaded ffmpeg failed its SHA-256 check."));
}

InstallError InstallError::download(const QString &fileName)
{
    return InstallError(downloadFailed, QStringLiteral("Download failed (") + fileName + QStringLiteral(")."));
}

InstallError InstallError::extraction()
{
    return InstallError(extractionFailed, QStringLiteral("Could not extract the ffmpeg archive."));
}

InstallError InstallError::missingBinary()
{
    return InstallError(noBinary, QStringLiteral("The archive did not contain an ffmpeg binary."));
}

} // namespace vorlik::ffmpeg
