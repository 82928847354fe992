#include "app/PreferencesView.h"

#include "app/AccountSection.h"
#include "app/ConversionToolsSection.h"
#include "app/DiagnosticsSection.h"
#include "app/OutputSection.h"
#include "app/UpdatesSection.h"

#include <QVBoxLayout>

namespace vorlik::app {

PreferencesView::PreferencesView(platform::Settings &settings, diagnostics::DiagnosticsLogger &logger,
                                 update::UpdateManager &updater, QWidget *parent)
    : QWidget(parent), m_account(new AccountSection(this)), m_output(new OutputSection(settings, this)),
      m_conversionTools(new ConversionToolsSection(settings, this)), m_updates(new UpdatesSection(updater, this)),
      m_diagnostics(new DiagnosticsSection(settings, logger, this))
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 16, 20, 20);
    layout->setSpacing(16);
    layout->addWidget(m_account);
    layout->addWidget(m_output);
    layout->addWidget(m_conversionTools);
    layout->addWidget(m_updates);
    layout->addWidget(m_diagnostics);
    layout->addStretch(1);
}

} // namespace vorlik::app
