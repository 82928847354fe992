// Rules of the web tabs that need no page: which pages and origins are trusted, download
// names, script escaping, the resource guard, drop routing, folder expansion and the bridge limit.
#include "tests/web/WebTabFixture.h"

using namespace vorlik;
using namespace vorlik::test;
