#include "app/AppTab.h"

namespace vorlik::app {

QString title(AppTab tab)
{
    switch (tab) {
    case AppTab::analysis:
        return QStringLiteral("Correction");
    case AppTab::cinema:
        return QStringLiteral("Cinema");
    case AppTab::convert:
        return QStringLiteral("Convert");
    case AppTab::audioInfo:
        return QStringLiteral("Analysis");
    }
    return {};
}

} // namespace vorlik::app
