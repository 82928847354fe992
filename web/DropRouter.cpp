#include "web/DropRouter.h"

namespace vorlik::web {

DropRouter &DropRouter::shared()
{
    static DropRouter *router = new DropRouter; // never destroyed: handlers may run during exit
    return *router;
}

void DropRouter::route(const QList<QUrl> &files, QPointF dropPoint) const
{
    if (correctionActive && correctionHandler)
        correctionHandler(files, dropPoint);
    else if (cinemaHandler)
        cinemaHandler(files, dropPoint);
}

} // namespace vorlik::web
