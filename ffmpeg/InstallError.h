#pragma once
// Failures of the ffmpeg download install (domain "Vorlik", codes 1 to 4).
#include "platform/Failure.h"

namespace vorlik::ffmpeg {

class InstallError : public Failure {
public:
    enum Code { checksumMismatch = 1, downloadFailed = 2, extractionFailed = 3, noBinary = 4 };

    static InstallError checksum();                          // "Downloaded ffmpeg failed its SHA-256 check."
    static InstallError download(const QString &fileName);   // "Download failed (" + name + ")."
    static InstallError extraction();                        // "Could not extract the ffmpeg archive."
    static InstallError missingBinary();                     // "The archive did not contain an ffmpeg binary."

    QString domain() const { return QStringLiteral("Vorlik"); }
    int code() const { return m_code; }

private:
    InstallError(int code, QString description) : Failure(std::move(description)), m_code(code) {}
    int m_code;
};

} // namespace vorlik::ffmpeg
