#pragma once
// The settings form, section by section: Account, Output, Conversion tools, Updates, Diagnostics.
#include <QWidget>

namespace vorlik::diagnostics {
class DiagnosticsLogger;
}
namespace vorlik::platform {
class Settings;
}
namespace vorlik::update {
class UpdateManager;
}

namespace vorlik::app {

class AccountSection;
class ConversionToolsSection;
class DiagnosticsSection;
class OutputSection;
class UpdatesSection;

class PreferencesView : public QWidget {
    Q_OBJECT
public:
    PreferencesView(platform::Settings &settings, diagnostics::DiagnosticsLogger &logger, update::UpdateManager &updater,
                    QWidget *parent = nullptr);

    AccountSection *account() const { return m_account; }
    OutputSection *output() const { return m_output; }
    ConversionToolsSection *conversionTools() const { return m_conversionTools; }
    UpdatesSection *updates() const { return m_updates; }
    DiagnosticsSection *diagnostics() const { return m_diagnostics; }

private:
    AccountSection *m_account;
    OutputSection *m_output;
    ConversionToolsSection *m_conversionTools;
    UpdatesSection *m_updates;
    DiagnosticsSection *m_diagnostics;
};

} // namespace vorlik::app
