#pragma once
// The settings form, section by section: Account, Output, Conversion tools, Updates, Diagnostics.
#include <QWidget>

namespace vorlik::diagnostics {
class DiagnosticsLogger;
}
namespace vorlik::platform {
class Settings;
}

namespace vorlik::app {

class ConversionToolsSection;
class DiagnosticsSection;
class OutputSection;

class PreferencesView : public QWidget {
    Q_OBJECT
public:
    PreferencesView(platform::Settings &settings, diagnostics::DiagnosticsLogger &logger, QWidget *parent = nullptr);

    OutputSection *output() const { return m_output; }
    ConversionToolsSection *conversionTools() const { return m_conversionTools; }
    DiagnosticsSection *diagnostics() const { return m_diagnostics; }

private:
    OutputSection *m_output;
    ConversionToolsSection *m_conversionTools;
    DiagnosticsSection *m_diagnostics;
};

} // namespace vorlik::app
