#pragma once
// The chosen program does not run as ffmpeg (domain "Vorlik", code 12).
#include "platform/Failure.h"

namespace vorlik::ffmpeg {

class AdoptionError : public Failure {
public:
    static constexpr int notWorkingFFmpegCode = 12;

    static AdoptionError notWorkingFFmpeg(); // "The chosen binary is not a working ffmpeg."

    QString domain() const { return QStringLiteral("Vorlik"); }
    int code() const { return m_code; }

private:
    AdoptionError(int code, QString description) : Failure(std::move(description)), m_code(code) {}
    int m_code;
};

} // namespace vorlik::ffmpeg
