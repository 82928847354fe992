#pragma once
// "Output" in the settings window: where converted files go ("exportLocation": next to each
// source, or into the folder stored under "exportFolderPath").
#include "app/SettingsSection.h"

class QLabel;
class QPushButton;
class QRadioButton;

namespace vorlik::platform {
class Settings;
}

namespace vorlik::app {

class OutputSection : public SettingsSection {
    Q_OBJECT
public:
    explicit OutputSection(platform::Settings &settings, QWidget *parent = nullptr);

    // Stores the chosen folder (what "Choose Folder…" does after its panel).
    void setFolder(const QString &path);

    QRadioButton *sameAsSourceButton() const { return m_sameAsSource; }
    QRadioButton *customFolderButton() const { return m_customFolder; }
    QPushButton *chooseFolderButton() const { return m_choose; }
    QLabel *folderLabel() const { return m_folder; }

private:
    void refresh();
    void chooseFolder();

    platform::Settings &m_settings;
    QRadioButton *m_sameAsSource;
    QRadioButton *m_customFolder;
    QLabel *m_sameAsSourceNote;
    QWidget *m_customRow;
    QLabel *m_folder;
    QPushButton *m_choose;
    QLabel *m_customNote;
};

} // namespace vorlik::app
