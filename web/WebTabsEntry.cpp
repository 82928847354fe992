// The entry of the web tabs' module: the table of functions the program looks up once it has
// loaded the module.
#include "web/WebTabView.h"
#include "web/WebTabsInterface.h"

#include <QQuickWindow>

namespace {

QWidget *makeTab(bool isCorrection, vorlik::service::SessionStore &store, bool active, QWidget *parent)
{
    using vorlik::web::WebTabView;
    // The engine draws its pages with OpenGL; it must be chosen before its first view exists.
    QQuickWindow::setGraphicsApi(QSGRendererInterface::OpenGLRhi);
    return new WebTabView(isCorrection ? WebTabView::correctionURL() : WebTabView::cinemaURL(), isCorrection, store,
                          active, parent);
}

void setActive(QWidget *tab, bool active)
{
    if (auto *view = qobject_cast<vorlik::web::WebTabView *>(tab))
        view->setActive(active);
}

const vorlik::web::WebTabsInterface table{vorlik::web::WebTabsInterface::currentVersion, makeTab, setActive};

} // namespace

extern "C" Q_DECL_EXPORT const vorlik::web::WebTabsInterface *vorlik_web_tabs()
{
    return &table;
}
