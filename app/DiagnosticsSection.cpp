#include "app/DiagnosticsSection.h"

#include "app/ToggleSwitch.h"
#include "diagnostics/DiagnosticsLogger.h"
#include "platform/AppPaths.h"
#include "platform/Settings.h"

#include <QCoroFuture>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

namespace vorlik::app {

namespace {
const QString diagnosticsKey = QStringLiteral("vorlikDiag");
const QString category = QStringLiteral("diagnostics");
} // namespace

DiagnosticsSection::DiagnosticsSection(platform::Settings &settings, diagnostics::DiagnosticsLogger &logger,
                                       QWidget *parent)
    : SettingsSection(QStringLiteral("Diagnostics"), parent), m_settings(settings), m_logger(logger),
      m_switch(new ToggleSwitch(QStringLiteral("Diagnostics logging"), this)),
      m_export(new QPushButton(QStringLiteral("Export Vorlik Logs"), this)), m_noteLabel(makeNote({}, this))
{
    setObjectName(QStringLiteral("diagnosticsSection"));
    m_switch->setObjectName(QStringLiteral("diagnosticsSwitch"));
    m_export->setObjectName(QStringLiteral("exportLogsButton"));
    m_noteLabel->setObjectName(QStringLiteral("diagnosticsNote"));
    m_noteLabel->setForegroundRole(QPalette::WindowText);
    m_noteLabel->hide();

    body()->addWidget(m_switch);
    body()->addWidget(makeNote(QStringLiteral("Constantly records app activity to a local file — off by default. "
                                              "Switch on only when asked, then export the TXT and send it over."),
                               this));
    body()->addWidget(makeNote(QStringLiteral("The log stays on this computer — it is never uploaded."), this));
    auto *row = new QHBoxLayout;
    row->addWidget(m_export);
    row->addStretch(1);
    body()->addLayout(row);
    body()->addWidget(m_noteLabel);

    syncSwitch();
    connect(m_switch, &QAbstractButton::clicked, this, &DiagnosticsSection::setDiagnosticsEnabled);
    connect(m_export, &QPushButton::clicked, this, &DiagnosticsSection::chooseExportFile);
    connect(&m_settings, &platform::Settings::changed, this, [this](const QString &key) {
        if (key == diagnosticsKey)
            syncSwitch();
    });
}

void DiagnosticsSection::syncSwitch()
{
    m_switch->setChecked(m_settings.diagnosticsEnabled());
}

void DiagnosticsSection::setDiagnosticsEnabled(bool enabled)
{
    m_settings.setValue(diagnosticsKey, enabled);
    syncSwitch();
    if (enabled) {
        m_logger.startIfEnabled();
        m_logger.log(category, QStringLiteral("enabled from Preferences"));
        setNote(QStringLiteral("Logging on — everything the app does is now recorded."));
    } else {
        m_logger.finalLog(category, QStringLiteral("disabled from Preferences"));
        m_logger.stop();
        setNote(QStringLiteral("Logging off."));
    }
}

QString DiagnosticsSection::suggestedExportName()
{
    return QStringLiteral("Vorlik-Logs-") + QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd-HHmm"))
        + QStringLiteral(".txt");
}

void DiagnosticsSection::chooseExportFile()
{
    const QString start = QDir(platform::AppPaths::downloads()).filePath(suggestedExportName());
    const QString path = QFileDialog::getSaveFileName(window(), QStringLiteral("Export Vorlik Logs"), start,
                                                      QStringLiteral("Text files (*.txt)"));
    if (!path.isEmpty())
        exportTo(path);
}

void DiagnosticsSection::exportTo(const QString &path)
{
    if (m_exporting)
        return;
    m_exporting = true;
    m_export->setEnabled(false);
    runExport(QPointer<DiagnosticsSection>(this), &m_logger, path);
}

QCoro::Task<void> DiagnosticsSection::runExport(QPointer<DiagnosticsSection> self,
                                                diagnostics::DiagnosticsLogger *logger, QString path)
{
    // The export gathers up to 5 MiB of earlier logs and writes a file: not on the main thread.
    // (The future is a named local: g++ 12 destroys a lambda temporary of a co_await twice.)
    QFuture<bool> exported = QtConcurrent::run([logger, path] { return logger->exportTXT(path); });
    const bool written = co_await exported;
    if (!self)
        co_return;
    self->m_exporting = false;
    self->m_export->setEnabled(true);
    const QString name = QFileInfo(path).fileName();
    self->setNote(written ? QStringLiteral("Exported — attach ") + name + QStringLiteral(" to your report.")
                          : QStringLiteral("Could not export the log to ") + path + QLatin1Char('.'));
}

void DiagnosticsSection::setNote(const std::optional<QString> &note)
{
    m_note = note;
    m_noteLabel->setText(note.value_or(QString()));
    m_noteLabel->setVisible(note.has_value());
    emit diagnosticsNoteChanged();
}

} // namespace vorlik::app
