#pragma once
// The tools folder's file errors are the platform's (platform/FileError.h).
#include "platform/FileError.h"

namespace vorlik::ffmpeg {
using FileError = platform::FileError;
} // namespace vorlik::ffmpeg
