#pragma once
// "Conversion tools" in the settings window: the ffmpeg override ("ffmpegPathOverride"), the
// version of the ffmpeg that would be used, "Install FFmpeg…" when none is found, and how many
// conversions run side by side ("simultaneousConversions").
#include "app/SettingsSection.h"

#include <QCoroTask>
#include <QPointer>
#include <QTimer>

#include <optional>

class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

namespace vorlik::platform {
class Settings;
}

namespace vorlik::app {

class ConversionToolsSection : public SettingsSection {
    Q_OBJECT
public:
    explicit ConversionToolsSection(platform::Settings &settings, QWidget *parent = nullptr);

    static QString notFoundText(); // "(not found — use Install FFmpeg on the Convert page)"

    // Looks for the effective ffmpeg again and asks it for its version (off the main thread).
    void refreshDetectedVersion();
    // The first line of "ffmpeg -version" of the effective ffmpeg; none when there is none.
    std::optional<QString> detectedVersion() const { return m_detectedVersion; }
    bool isDetecting() const { return m_detecting; }

    QLineEdit *overrideField() const { return m_override; }
    QPushButton *chooseButton() const { return m_choose; }
    QPushButton *resetButton() const { return m_reset; }
    QPushButton *installButton() const { return m_install; }
    QLabel *versionLabel() const { return m_version; }
    QWidget *warningRow() const { return m_warning; }
    QSpinBox *simultaneousField() const { return m_simultaneous; }

signals:
    void installRequested();
    void detectedVersionChanged();

private:
    void setOverride(const QString &path);
    void chooseBinary();
    void showDetection();
    static QCoro::Task<void> detect(QPointer<ConversionToolsSection> self, quint64 round);

    platform::Settings &m_settings;
    QLineEdit *m_override;
    QPushButton *m_choose;
    QPushButton *m_reset;
    QLabel *m_version;
    QWidget *m_warning;
    QPushButton *m_install;
    QSpinBox *m_simultaneous;
    QTimer m_debounce;
    std::optional<QString> m_detectedVersion;
    bool m_detecting = false;
    quint64 m_round = 0; // a later look makes an earlier answer stale
};

} // namespace vorlik::app
