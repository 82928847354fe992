#pragma once
// An archive that could not be unpacked: unreadable, damaged, or holding an entry that would
// land outside the folder it is unpacked into.
#include "platform/Failure.h"

namespace vorlik::platform {

class ArchiveError : public Failure {
public:
    using Failure::Failure;
};

} // namespace vorlik::platform
