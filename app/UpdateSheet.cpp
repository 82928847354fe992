#include "app/UpdateSheet.h"

#include "app/AppIcon.h"
#include "update/UpdateManager.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace vorlik::app {

using update::UpdatePhase;

UpdateSheet::UpdateSheet(update::UpdateManager &updater, QWidget *parent)
    : QDialog(parent), m_updater(updater), m_status(new QLabel(this)), m_notes(new QPlainTextEdit(this)),
      m_progress(new QProgressBar(this)), m_explanation(new QLabel(update::UpdateManager::installExplanation(), this)),
      m_packageNote(new QLabel(update::UpdateManager::packageManagerNote(), this)),
      m_check(new QPushButton(QStringLiteral("Check Again"), this)),
      m_download(new QPushButton(QStringLiteral("Download Update"), this)),
      // "&&": a single "&" would mark a keyboard accelerator instead of showing.
      m_install(new QPushButton(update::UpdateManager::installButtonTitle().replace(QLatin1Char('&'), QStringLiteral("&&")),
                                this)),
      m_close(new QPushButton(QStringLiteral("Close"), this))
{
    setObjectName(QStringLiteral("updateSheet"));
    setWindowTitle(QStringLiteral("Software Update"));
    setWindowModality(Qt::WindowModal);
    setMinimumWidth(460);

    auto *icon = new QLabel(this);
    icon->setPixmap(AppIcon::pixmap(56, devicePixelRatioF()));
    icon->setAlignment(Qt::AlignTop);

    m_status->setObjectName(QStringLiteral("updateStatus"));
    m_status->setWordWrap(true);
    QFont heading = m_status->font();
    heading.setBold(true);
    m_status->setFont(heading);
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);

    m_notes->setObjectName(QStringLiteral("updateNotes"));
    m_notes->setReadOnly(true);
    m_notes->setMinimumHeight(120);
    m_progress->setObjectName(QStringLiteral("updateProgress"));
    m_progress->setRange(0, 1000);
    m_progress->setTextVisible(false);
    m_explanation->setObjectName(QStringLiteral("updateExplanation"));
    m_explanation->setWordWrap(true);
    m_explanation->setForegroundRole(QPalette::PlaceholderText);
    m_packageNote->setObjectName(QStringLiteral("updatePackageNote"));
    m_packageNote->setWordWrap(true);
    m_packageNote->setTextInteractionFlags(Qt::TextSelectableByMouse); // the package name can be copied
    m_check->setObjectName(QStringLiteral("updateCheckButton"));
    m_download->setObjectName(QStringLiteral("updateDownloadButton"));
    m_install->setObjectName(QStringLiteral("updateInstallButton"));
    m_close->setObjectName(QStringLiteral("updateCloseButton"));
    for (QPushButton *button : {m_check, m_download, m_install, m_close})
        button->setAutoDefault(false);

    auto *content = new QVBoxLayout;
    content->setSpacing(10);
    content->addWidget(m_status);
    content->addWidget(m_notes);
    content->addWidget(m_progress);
    content->addWidget(m_explanation);
    content->addWidget(m_packageNote);

    auto *top = new QHBoxLayout;
    top->setSpacing(16);
    top->addWidget(icon, 0, Qt::AlignTop);
    top->addLayout(content, 1);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_check);
    buttons->addStretch(1);
    buttons->addWidget(m_close);
    buttons->addWidget(m_download);
    buttons->addWidget(m_install);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 16);
    layout->setSpacing(16);
    layout->addLayout(top);
    layout->addLayout(buttons);

    connect(m_check, &QPushButton::clicked, this, [this] { m_updater.check(); });
    connect(m_download, &QPushButton::clicked, this, [this] { m_updater.downloadAvailable(); });
    connect(m_install, &QPushButton::clicked, this, [this] { m_updater.installDownloaded(); });
    connect(m_close, &QPushButton::clicked, this, &QDialog::reject);
    connect(&m_updater, &update::UpdateManager::phaseChanged, this, &UpdateSheet::refresh);
    connect(&m_updater, &update::UpdateManager::showSheetChanged, this, &UpdateSheet::followShowSheet);
    refresh();
    followShowSheet();
}

void UpdateSheet::refresh()
{
    const UpdatePhase &phase = m_updater.phase();
    using Kind = UpdatePhase::Kind;
    m_status->setText(m_updater.statusText());
    const QString notes = m_updater.notes();
    m_notes->setPlainText(notes);
    m_notes->setVisible(!notes.isEmpty());
    m_progress->setVisible(phase.is(Kind::downloading));
    m_progress->setValue(int(m_updater.downloadFraction() * 1000));
    m_explanation->setVisible(phase.is(Kind::downloaded));
    m_packageNote->setVisible(phase.is(Kind::available) && m_updater.packageManaged());
    const bool busy = phase.is(Kind::checking) || phase.is(Kind::downloading) || phase.is(Kind::installing);
    m_check->setVisible(!busy && !phase.is(Kind::available) && !phase.is(Kind::downloaded));
    m_download->setVisible(m_updater.canDownload());
    m_install->setVisible(m_updater.canInstall());
    m_download->setDefault(m_updater.canDownload());
    m_install->setDefault(m_updater.canInstall());
    adjustSize();
}

void UpdateSheet::followShowSheet()
{
    if (m_updater.showSheet() && !isVisible()) {
        refresh();
        open();
    } else if (!m_updater.showSheet() && isVisible()) {
        QDialog::done(QDialog::Rejected);
    }
}

void UpdateSheet::done(int result)
{
    QDialog::done(result);
    m_updater.setShowSheet(false);
}

} // namespace vorlik::app
