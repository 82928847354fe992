#include "app/PreferencesWindowController.h"

#include "app/AppIcon.h"
#include "app/ConversionToolsSection.h"
#include "app/PreferencesView.h"
#include "app/ShellAccessibility.h"
#include "app/WindowKeys.h"
#include "app/WindowPresentation.h"
#include "ffmpeg/FFmpegInstallSheet.h"

#include <QScrollArea>
#include <QVBoxLayout>
#include <QWidget>

namespace vorlik::app {

PreferencesWindowController::PreferencesWindowController(platform::Settings &settings,
                                                         diagnostics::DiagnosticsLogger &logger,
                                                         update::UpdateManager &updater, QObject *parent)
    : QObject(parent), m_window(std::make_unique<QWidget>(nullptr, Qt::Window | Qt::WindowTitleHint
                                                                       | Qt::WindowCloseButtonHint)),
      m_view(new PreferencesView(settings, logger, updater))
{
    m_window->setObjectName(QStringLiteral("preferencesWindow"));
    m_window->setWindowTitle(QStringLiteral("Vorlik Desktop Settings"));
    m_window->setWindowIcon(AppIcon::icon());
    m_window->setFixedSize(600, 420);
    WindowKeys::install(m_window.get(), WindowKeys::Closing::onEscapeAndCtrlW);
    ShellAccessibility::install();
    ShellAccessibility::refresh(m_window.get());

    auto *scroll = new QScrollArea(m_window.get());
    scroll->setObjectName(QStringLiteral("preferencesScroll"));
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setWidget(m_view);
    // Not a Tab stop of its own (it would hold the focus without showing it): Tab goes
    // through the controls, and the area scrolls to the one that has the focus.
    scroll->setFocusPolicy(Qt::NoFocus);

    auto *layout = new QVBoxLayout(m_window.get());
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(scroll);

    connect(m_view->conversionTools(), &ConversionToolsSection::installRequested, this,
            &PreferencesWindowController::showInstallSheet);
}

PreferencesWindowController::~PreferencesWindowController() = default;

ffmpeg::FFmpegInstallSheet *PreferencesWindowController::installSheet() const { return m_installSheet; }

void PreferencesWindowController::showInstallSheet()
{
    if (!m_installSheet) {
        m_installSheet = new ffmpeg::FFmpegInstallSheet(m_window.get());
        // The section shows the version of what was just installed.
        connect(m_installSheet, &ffmpeg::FFmpegInstallSheet::installed, m_view->conversionTools(),
                &ConversionToolsSection::refreshDetectedVersion);
    }
    m_installSheet->present();
}

void PreferencesWindowController::show()
{
    // The ffmpeg found may have changed since the window was last open (an install, a new PATH).
    if (m_window->isVisible() == false)
        m_view->conversionTools()->refreshDetectedVersion();
    presentWindow(m_window.get());
}

} // namespace vorlik::app
