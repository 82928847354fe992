#pragma once
// "Diagnostics" in the settings window: the switch bound to "vorlikDiag", which starts and stops
// the log with a last line in each direction, and the export of the log as one text file.
#include "app/SettingsSection.h"

#include <QCoroTask>
#include <QPointer>

#include <optional>

class QLabel;
class QPushButton;

namespace vorlik::diagnostics {
class DiagnosticsLogger;
}
namespace vorlik::platform {
class Settings;
}

namespace vorlik::app {

class ToggleSwitch;

class DiagnosticsSection : public SettingsSection {
    Q_OBJECT
public:
    DiagnosticsSection(platform::Settings &settings, diagnostics::DiagnosticsLogger &logger,
                       QWidget *parent = nullptr);

    // What the switch does: on, startIfEnabled() then "enabled from Preferences"; off, the
    // last line "disabled from Preferences" then stop(), so that it reaches the file.
    void setDiagnosticsEnabled(bool enabled);
    // Writes the export to `path` off the main thread and reports in the note.
    void exportTo(const QString &path);
    static QString suggestedExportName(); // "Vorlik-Logs-2026-12-06-2315.txt"

    ToggleSwitch *loggingSwitch() const { return m_switch; }
    QPushButton *exportButton() const { return m_export; }
    std::optional<QString> diagnosticsNote() const { return m_note; }
    bool isExporting() const { return m_exporting; }

signals:
    void diagnosticsNoteChanged();

private:
    void chooseExportFile();
    void setNote(const std::optional<QString> &note);
    void syncSwitch();
    static QCoro::Task<void> runExport(QPointer<DiagnosticsSection> self, diagnostics::DiagnosticsLogger *logger,
                                       QString path);

    platform::Settings &m_settings;
    diagnostics::DiagnosticsLogger &m_logger;
    ToggleSwitch *m_switch;
    QPushButton *m_export;
    QLabel *m_noteLabel;
    std::optional<QString> m_note;
    bool m_exporting = false;
};

} // namespace vorlik::app
