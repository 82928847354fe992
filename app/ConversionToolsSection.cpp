#include "app/ConversionToolsSection.h"

#include "convert/ConvertRunner.h"
#include "ffmpeg/FFmpegLocator.h"
#include "ffmpeg/Preferences.h"
#include "platform/Settings.h"

#include <QApplication>

#include <algorithm>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QStyle>
#include <QVBoxLayout>

namespace vorlik::app {

namespace {
const QString overrideKey = QStringLiteral("ffmpegPathOverride");
const QString simultaneousKey = QStringLiteral("simultaneousConversions");
}

ConversionToolsSection::ConversionToolsSection(platform::Settings &settings, QWidget *parent)
    : SettingsSection(QStringLiteral("Conversion tools"), parent), m_settings(settings),
      m_override(new QLineEdit(this)), m_choose(new QPushButton(QStringLiteral("Choose…"), this)),
      m_reset(new QPushButton(QStringLiteral("Reset"), this)), m_version(new QLabel(this)),
      m_warning(new QWidget(this)), m_install(new QPushButton(QStringLiteral("Install FFmpeg…"), m_warning)),
      m_simultaneous(new QSpinBox(this))
{
    setObjectName(QStringLiteral("conversionToolsSection"));
    m_override->setObjectName(QStringLiteral("ffmpegOverrideField"));
    m_override->setPlaceholderText(QStringLiteral("Path to an ffmpeg binary (optional override)"));
    // A placeholder disappears once there is text; the name stays.
    m_override->setAccessibleName(QStringLiteral("FFmpeg path"));
    m_override->setText(m_settings.ffmpegPathOverride());
    m_override->setClearButtonEnabled(false);
    m_choose->setObjectName(QStringLiteral("chooseFFmpegButton"));
    m_reset->setObjectName(QStringLiteral("resetFFmpegButton"));
    m_install->setObjectName(QStringLiteral("installFFmpegButton"));
    m_version->setObjectName(QStringLiteral("ffmpegVersionLabel"));
    m_version->setWordWrap(true);
    m_version->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_warning->setObjectName(QStringLiteral("ffmpegWarning"));

    auto *fieldRow = new QHBoxLayout;
    fieldRow->addWidget(m_override, 1);
    fieldRow->addWidget(m_choose);
    fieldRow->addWidget(m_reset);

    auto *warningIcon = new QLabel(m_warning);
    const int iconSize = fontMetrics().height();
    warningIcon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(iconSize, iconSize));
    auto *warningText = new QLabel(QStringLiteral("Conversions won't work until FFmpeg is installed."), m_warning);
    warningText->setWordWrap(true);
    auto *warningRow = new QHBoxLayout(m_warning);
    warningRow->setContentsMargins(0, 0, 0, 0);
    warningRow->addWidget(warningIcon);
    warningRow->addWidget(warningText, 1);
    warningRow->addWidget(m_install);
    m_warning->hide();
    m_version->hide(); // until the first look has an answer

    body()->addLayout(fieldRow);
    body()->addWidget(makeNote(QStringLiteral("Leave blank to use the managed copy in "
                                              "~/.local/share/Vorlik/FFmpegTools, then Homebrew."),
                               this));
    body()->addWidget(m_version);
    body()->addWidget(m_warning);

    // Up to one conversion per processor core; one at a time unless asked.
    m_simultaneous->setObjectName(QStringLiteral("simultaneousConversionsField"));
    m_simultaneous->setRange(1, convert::ConvertRunner::maximumSimultaneousConversions());
    m_simultaneous->setValue(std::min(convert::ConvertRunner::simultaneousConversions(m_settings), m_simultaneous->maximum()));
    auto *simultaneousRow = new QHBoxLayout;
    auto *simultaneousLabel = new QLabel(QStringLiteral("Simultaneous conversions"), this);
    simultaneousLabel->setBuddy(m_simultaneous); // its name for a screen reader
    simultaneousRow->addWidget(simultaneousLabel);
    simultaneousRow->addWidget(m_simultaneous);
    simultaneousRow->addStretch(1);
    body()->addLayout(simultaneousRow);
    body()->addWidget(makeNote(QStringLiteral("How many files are converted at the same time. More uses more "
                                              "processor cores; 1 converts one file after another."),
                               this));
    connect(m_simultaneous, &QSpinBox::valueChanged, this,
            [this](int count) { m_settings.setValue(simultaneousKey, count); });

    // Each keystroke is stored at once (the Convert page follows it); the version is looked up
    // once typing pauses.
    m_debounce.setSingleShot(true);
    m_debounce.setInterval(350);
    connect(&m_debounce, &QTimer::timeout, this, &ConversionToolsSection::refreshDetectedVersion);
    connect(m_override, &QLineEdit::textEdited, this, [this](const QString &text) {
        m_settings.setValue(overrideKey, text);
    });
    connect(m_reset, &QPushButton::clicked, this, [this] { setOverride(QString()); });
    connect(m_choose, &QPushButton::clicked, this, &ConversionToolsSection::chooseBinary);
    connect(m_install, &QPushButton::clicked, this, &ConversionToolsSection::installRequested);
    connect(&m_settings, &platform::Settings::changed, this, [this](const QString &key) {
        if (key == simultaneousKey) {
            const int stored = std::min(convert::ConvertRunner::simultaneousConversions(m_settings), m_simultaneous->maximum());
            if (m_simultaneous->value() != stored)
                m_simultaneous->setValue(stored);
            return;
        }
        if (key != overrideKey)
            return;
        const QString stored = m_settings.ffmpegPathOverride();
        if (m_override->text() != stored)
            m_override->setText(stored);
        m_debounce.start();
    });
    refreshDetectedVersion();
}

QString ConversionToolsSection::notFoundText()
{
    return QStringLiteral("(not found — use Install FFmpeg on the Convert page)");
}

void ConversionToolsSection::setOverride(const QString &path)
{
    m_override->setText(path);
    m_settings.setValue(overrideKey, path);
}

void ConversionToolsSection::chooseBinary()
{
    const QString current = m_override->text().trimmed();
    const QString chosen = QFileDialog::getOpenFileName(
        window(), QStringLiteral("Choose an ffmpeg binary. Leave the field blank to use the managed copy."),
        current.isEmpty() ? QStringLiteral("/usr/bin") : QFileInfo(current).absolutePath());
    if (!chosen.isEmpty())
        setOverride(chosen);
}

void ConversionToolsSection::refreshDetectedVersion()
{
    m_debounce.stop();
    detect(QPointer<ConversionToolsSection>(this), ++m_round);
}

QCoro::Task<void> ConversionToolsSection::detect(QPointer<ConversionToolsSection> self, quint64 round)
{
    self->m_detecting = true;
    std::optional<QString> version;
    if (const auto program = ffmpeg::Preferences::effectiveFFmpeg(self->m_settings))
        version = co_await ffmpeg::FFmpegLocator::version(*program);
    if (!self || self->m_round != round)
        co_return;
    self->m_detecting = false;
    self->m_detectedVersion = version && !version->isEmpty() ? version : std::nullopt;
    self->showDetection();
    emit self->detectedVersionChanged();
}

void ConversionToolsSection::showDetection()
{
    m_version->setText(m_detectedVersion.value_or(notFoundText()));
    m_version->show();
    m_warning->setVisible(!m_detectedVersion);
}

} // namespace vorlik::app
