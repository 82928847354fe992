#include "app/ReleaseNotesWindowController.h"

#include "app/AppIcon.h"
#include "app/ChangeLog.h"
#include "app/WindowPresentation.h"

#include <QApplication>
#include <QPlainTextEdit>
#include <QVBoxLayout>
#include <QWidget>

namespace vorlik::app {

ReleaseNotesWindowController::ReleaseNotesWindowController(QObject *parent)
    : QObject(parent), m_window(std::make_unique<QWidget>(nullptr, Qt::Window)),
      m_text(new QPlainTextEdit(m_window.get()))
{
    m_window->setObjectName(QStringLiteral("releaseNotesWindow"));
    m_window->setWindowTitle(QStringLiteral("Release Notes — Vorlik Desktop"));
    m_window->setWindowIcon(AppIcon::icon());
    m_window->resize(580, 480);

    m_text->setObjectName(QStringLiteral("releaseNotesText"));
    m_text->setReadOnly(true);
    m_text->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    QFont font = QApplication::font();
    font.setPointSize(12);
    m_text->setFont(font);
    m_text->document()->setDocumentMargin(14);
    m_text->setPlainText(ChangeLog::loadChangeLog());

    auto *layout = new QVBoxLayout(m_window.get());
    layout->setContentsMargins(10, 10, 10, 10);
    layout->addWidget(m_text);
}

ReleaseNotesWindowController::~ReleaseNotesWindowController() = default;

void ReleaseNotesWindowController::show()
{
    presentWindow(m_window.get());
}

} // namespace vorlik::app
