#pragma once
// The client key of a run from a file (--key-file PATH) or from standard input (--key -), so
// that it never has to stand on a command line, where other users of the computer can read it
// in the process list and where it stays in the shell's history.
#include "app/cli/CommandLine.h"

#include <QString>

#include <optional>

namespace vorlik::app {

struct KeyInput {
    // The key the command line names: the first line of the file or of standard input (without
    // its line ending; typed without echo at a terminal), --key KEY as given, or none. Throws
    // Failure with the text to print when the file or the input cannot be read.
    static std::optional<QString> read(const CommandLine &line);
};

} // namespace vorlik::app
