#include "ffmpeg/AdoptionError.h"

namespace vorlik::ffmpeg {

AdoptionError AdoptionError::notWorkingFFmpeg()
{
    return AdoptionError(notWorkingFFmpegCode, QStringLiteral("The chosen binary is not a working ffmpeg."));
}

} // namespace vorlik::ffmpeg
