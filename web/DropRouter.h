#pragma once
// Which web tab receives a native file drop. Both web views hand every drop here; it goes to
// the Correction tab while that tab is selected, otherwise to the Cinema tab, whichever view
// received it. One shared instance, main thread only.
#include <QList>
#include <QPointF>
#include <QUrl>

#include <functional>

namespace vorlik::web {

class DropRouter {
public:
    using Handler = std::function<void(const QList<QUrl> &files, QPointF dropPoint)>;

    static DropRouter &shared();

    Handler correctionHandler; // registered by the Correction tab
    Handler cinemaHandler;     // registered by the Cinema tab
    bool correctionActive = false; // the Correction tab is selected (set by that tab)
    bool webTabActive = false;     // a web tab is selected (set by the main window)

    void route(const QList<QUrl> &files, QPointF dropPoint) const;
};

} // namespace vorlik::web
