#pragma once
// The settings window ("Vorlik Desktop Settings", 600 × 420): made once, shown again on each
// request. The form scrolls inside the fixed window.
#include <QObject>
#include <QPointer>

#include <memory>

class QWidget;

namespace vorlik::diagnostics {
class DiagnosticsLogger;
}
namespace vorlik::platform {
class Settings;
}
namespace vorlik::update {
class UpdateManager;
}
namespace vorlik::ffmpeg {
class FFmpegInstallSheet;
}

namespace vorlik::app {

class PreferencesView;

class PreferencesWindowController : public QObject {
    Q_OBJECT
public:
    PreferencesWindowController(platform::Settings &settings, diagnostics::DiagnosticsLogger &logger,
                                update::UpdateManager &updater, QObject *parent = nullptr);
    ~PreferencesWindowController() override;

    // Centres the window, brings it to front and activates the application.
    void show();
    QWidget *window() const { return m_window.get(); }
    PreferencesView *view() const { return m_view; }
    // "Install FFmpeg…": the install sheet over the settings window, made on first use and kept.
    void showInstallSheet();
    ffmpeg::FFmpegInstallSheet *installSheet() const;

private:
    std::unique_ptr<QWidget> m_window;
    PreferencesView *m_view;
    QPointer<ffmpeg::FFmpegInstallSheet> m_installSheet;
};

} // namespace vorlik::app
