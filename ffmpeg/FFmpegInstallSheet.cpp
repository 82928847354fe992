#include "ffmpeg/FFmpegInstallSheet.h"

#include "ffmpeg/FFmpegInstaller.h"

#include <QFileDialog>
#include <QHBoxLayout>
#include <QLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace vorlik::ffmpeg {

FFmpegInstallSheet::FFmpegInstallSheet(QWidget *parent)
    : QDialog(parent), m_installer(new FFmpegInstaller(this)), m_explanation(new QLabel(this)),
      m_phase(new QLabel(this)), m_busy(new QProgressBar(this)),
      m_install(new QPushButton(QStringLiteral("Install FFmpeg"), this)),
      m_homebrew(new QPushButton(FFmpegInstaller::homebrewButtonTitle(), this)),
      m_choose(new QPushButton(QStringLiteral("Choose\u2026"), this)), m_close(new QPushButton(QStringLiteral("Cancel"), this))
{
    setObjectName(QStringLiteral("ffmpegInstallSheet"));
    setWindowTitle(QStringLiteral("Install FFmpeg"));
    setWindowModality(Qt::WindowModal);
    setModal(true);

    auto *title = new QLabel(QStringLiteral("Install FFmpeg"), this);
    QFont titleFont = title->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.25);
    titleFont.setWeight(QFont::DemiBold);
    title->setFont(titleFont);

    m_explanation->setText(FFmpegInstaller::explanation());
    m_explanation->setWordWrap(true);
    m_phase->setObjectName(QStringLiteral("phase"));
    m_phase->setWordWrap(true);
    m_phase->setTextFormat(Qt::PlainText);
    m_phase->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_busy->setRange(0, 0);
    m_busy->setTextVisible(false);
    m_busy->setFixedHeight(6);

    m_install->setDefault(true);
    m_choose->setToolTip(FFmpegInstaller::pickerMessage());
    connect(m_install, &QPushButton::clicked, this, [this] { m_installer->installRecommended(); });
    connect(m_homebrew, &QPushButton::clicked, this, [this] { m_installer->addHomebrew(); });
    connect(m_choose, &QPushButton::clicked, this, &FFmpegInstallSheet::pickExisting);
    connect(m_close, &QPushButton::clicked, this, &QDialog::reject);

    auto *buttons = new QHBoxLayout;
    buttons->setSpacing(8);
    buttons->addWidget(m_choose);
    buttons->addWidget(m_homebrew);
    buttons->addStretch(1);
    buttons->addWidget(m_close);
    buttons->addWidget(m_install);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 20, 24, 18);
    layout->setSpacing(12);
    layout->addWidget(title);
    layout->addWidget(m_explanation);
    layout->addWidget(m_phase);
    layout->addWidget(m_busy);
    layout->addStretch(1);
    layout->addLayout(buttons);
    setMinimumWidth(520);

    connect(m_installer, &FFmpegInstaller::phaseChanged, this, &FFmpegInstallSheet::showPhase);
    connect(m_installer, &FFmpegInstaller::busyChanged, this, &FFmpegInstallSheet::showPhase);
    connect(m_installer, &FFmpegInstaller::installed, this, &FFmpegInstallSheet::installed);
    connect(m_installer, &FFmpegInstaller::dismissRequested, this, &QDialog::accept);
    m_homebrew->setVisible(FFmpegInstaller::homebrewAvailable());
    showPhase();
}

FFmpegInstallSheet::~FFmpegInstallSheet() = default;

void FFmpegInstallSheet::fitHeight()
{
    // The wrapped texts decide the height at the sheet's width.
    QLayout *sheetLayout = layout();
    sheetLayout->activate();
    const int width = std::max(this->width(), minimumWidth());
    const int height = sheetLayout->hasHeightForWidth() ? sheetLayout->totalHeightForWidth(width) : sizeHint().height();
    setMinimumHeight(height);
    resize(width, height);
}

void FFmpegInstallSheet::present()
{
    m_homebrew->setVisible(FFmpegInstaller::homebrewAvailable());
    showPhase();
    open();
    fitHeight();
    raise();
}

void FFmpegInstallSheet::pickExisting()
{
    auto *dialog = new QFileDialog(this, FFmpegInstaller::pickerMessage());
    dialog->setObjectName(QStringLiteral("chooseFFmpegDialog"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::ExistingFile);
    connect(dialog, &QFileDialog::fileSelected, this, [this](const QString &program) { m_installer->adopt(program); });
    dialog->open();
}

// The red of the other failure texts, dark enough to read on the light window (the brighter one read 4.2:1).
QColor FFmpegInstallSheet::failedColor() { return QColor(0xb4, 0x2a, 0x2a); }

void FFmpegInstallSheet::showPhase()
{
    const InstallPhase &phase = m_installer->phase();
    const QString text = m_installer->statusText();
    m_phase->setText(text);
    m_phase->setVisible(!text.isEmpty());
    QPalette palette = m_phase->palette();
    palette.setColor(QPalette::WindowText, phase.kind == InstallPhase::Kind::failed ? failedColor()
                                                                                      : QColor(0x4a, 0x4d, 0x55));
    m_phase->setPalette(palette);
    const bool busy = m_installer->isBusy();
    m_busy->setVisible(busy);
    for (QPushButton *button : {m_install, m_homebrew, m_choose})
        button->setEnabled(!busy);
    if (isVisible())
        fitHeight();
}

} // namespace vorlik::ffmpeg
