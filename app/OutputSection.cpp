#include "app/OutputSection.h"

#include "platform/Settings.h"

#include <QButtonGroup>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace vorlik::app {

namespace {
const QString locationKey = QStringLiteral("exportLocation");
const QString folderKey = QStringLiteral("exportFolderPath");
const QString sameAsSource = QStringLiteral("sameAsSource");
const QString customFolder = QStringLiteral("customFolder");
} // namespace

OutputSection::OutputSection(platform::Settings &settings, QWidget *parent)
    : SettingsSection(QStringLiteral("Output"), parent), m_settings(settings),
      m_sameAsSource(new QRadioButton(QStringLiteral("Same folder as the source file"), this)),
      m_customFolder(new QRadioButton(QStringLiteral("Chosen folder…"), this)),
      m_sameAsSourceNote(makeNote(QStringLiteral("Converted files are written next to each source file."), this)),
      m_customRow(new QWidget(this)), m_folder(new QLabel(m_customRow)),
      m_choose(new QPushButton(QStringLiteral("Choose Folder…"), m_customRow)),
      m_customNote(makeNote(QStringLiteral("Converted files are written into this folder "
                                           "(unique names are used to avoid overwriting)."),
                            this))
{
    setObjectName(QStringLiteral("outputSection"));
    m_sameAsSource->setObjectName(QStringLiteral("sameAsSourceButton"));
    m_customFolder->setObjectName(QStringLiteral("customFolderButton"));
    m_choose->setObjectName(QStringLiteral("chooseFolderButton"));
    m_folder->setObjectName(QStringLiteral("exportFolderLabel"));
    m_folder->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_folder->setWordWrap(true);

    auto *group = new QButtonGroup(this);
    group->addButton(m_sameAsSource);
    group->addButton(m_customFolder);

    auto *picker = new QHBoxLayout;
    picker->setSpacing(16);
    auto *pickerLabel = new QLabel(QStringLiteral("Where outputs go"), this);
    picker->addWidget(pickerLabel, 0, Qt::AlignTop);
    auto *choices = new QVBoxLayout;
    choices->setSpacing(4);
    choices->addWidget(m_sameAsSource);
    choices->addWidget(m_customFolder);
    picker->addLayout(choices);
    picker->addStretch(1);

    auto *customRow = new QHBoxLayout(m_customRow);
    customRow->setContentsMargins(0, 0, 0, 0);
    customRow->addWidget(m_folder, 1);
    customRow->addWidget(m_choose);

    body()->addLayout(picker);
    body()->addWidget(m_sameAsSourceNote);
    body()->addWidget(m_customRow);
    body()->addWidget(m_customNote);

    connect(m_sameAsSource, &QRadioButton::clicked, this, [this] { m_settings.setValue(locationKey, sameAsSource); });
    connect(m_customFolder, &QRadioButton::clicked, this, [this] { m_settings.setValue(locationKey, customFolder); });
    connect(m_choose, &QPushButton::clicked, this, &OutputSection::chooseFolder);
    connect(&m_settings, &platform::Settings::changed, this, [this](const QString &key) {
        if (key == locationKey || key == folderKey)
            refresh();
    });
    refresh();
}

void OutputSection::refresh()
{
    // Any stored text other than "customFolder" means next to the source, as the runner reads it.
    const bool custom = m_settings.exportLocation() == customFolder;
    m_sameAsSource->setChecked(!custom);
    m_customFolder->setChecked(custom);
    m_sameAsSourceNote->setVisible(!custom);
    m_customRow->setVisible(custom);
    m_customNote->setVisible(custom);
    const QString folder = m_settings.exportFolderPath();
    m_folder->setText(folder.isEmpty() ? QStringLiteral("No folder chosen") : folder);
}

void OutputSection::chooseFolder()
{
    const QString current = m_settings.exportFolderPath();
    const QString chosen = QFileDialog::getExistingDirectory(
        window(), QStringLiteral("Choose where converted files are written."),
        current.isEmpty() ? QDir::homePath() : current);
    if (!chosen.isEmpty())
        setFolder(chosen);
}

void OutputSection::setFolder(const QString &path)
{
    m_settings.setValue(folderKey, path);
}

} // namespace vorlik::app
