#pragma once
// The grapheme helper lives in platform/ (the diagnostics log counts with it too); this name
// stays for code that still includes it from here.
#include "platform/Graphemes.h"

namespace vorlik::convert {
using platform::Graphemes;
}
