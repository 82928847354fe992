#include "app/AboutWindowController.h"

#include "app/AboutView.h"
#include "app/AppIcon.h"
#include "app/WindowKeys.h"
#include "app/WindowPresentation.h"

#include <QVBoxLayout>
#include <QWidget>

namespace vorlik::app {

AboutWindowController::AboutWindowController(std::function<void()> showReleaseNotes, QObject *parent)
    : QObject(parent), m_window(std::make_unique<QWidget>(nullptr, Qt::Window | Qt::WindowTitleHint
                                                                       | Qt::WindowCloseButtonHint)),
      m_view(new AboutView(m_window.get()))
{
    m_window->setObjectName(QStringLiteral("aboutWindow"));
    m_window->setWindowTitle(QStringLiteral("About Vorlik Desktop"));
    m_window->setWindowIcon(AppIcon::icon());
    m_window->setFixedSize(340, 300);
    WindowKeys::install(m_window.get(), WindowKeys::Closing::onEscapeAndCtrlW);
    auto *layout = new QVBoxLayout(m_window.get());
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_view);
    connect(m_view, &AboutView::releaseNotesRequested, this, [show = std::move(showReleaseNotes)] {
        if (show)
            show();
    });
}

AboutWindowController::~AboutWindowController() = default;

void AboutWindowController::show()
{
    presentWindow(m_window.get());
}

} // namespace vorlik::app
