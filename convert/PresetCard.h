#pragma once
// One card of the Convert page, made from its description (key, symbol, title, drop title,
// hint, footer and, for two cards, a picker): a drop area that takes files for the card's
// preset, the queue items of that preset, and the buttons "Choose Files", "Choose Folder" and
// "Clear". The page decides what a drop, a choice or a click does.
#include "service/Preset.h"

#include <QList>
#include <QString>
#include <QWidget>

#include <optional>

class QAbstractItemModel;
class QComboBox;
class QLabel;
class QListView;
class QPushButton;
class QSortFilterProxyModel;

namespace vorlik::analysis {
class CardDropTarget;
class DropArea;
}

namespace vorlik::convert {

struct PresetCardDescription {
    QString key;
    QString symbol;
    QString title;
    QString dropTitle;
    QString hint;
    QString footer;
    QString pickerTitle; // "CODEC", "TARGET", or empty for a card without a picker
};

class PresetCard : public QWidget {
    Q_OBJECT
public:
    // `queue` is the page's queue model; the card lists the rows of its own preset.
    PresetCard(PresetCardDescription description, QAbstractItemModel *queue, QWidget *parent = nullptr);

    const PresetCardDescription &description() const { return m_description; }
    QString key() const { return m_description.key; }

    // The preset the card uses now (none: the page leaves the card out) and, for a card with a
    // picker, the presets to choose from.
    void setPreset(const std::optional<service::Preset> &preset, const QList<service::Preset> &choices = {});
    const std::optional<service::Preset> &preset() const { return m_preset; }

    // The drop area's hint for a preset: the description's, unless the preset measures its source.
    static QString hint(const PresetCardDescription &description, const std::optional<service::Preset> &preset);

    analysis::CardDropTarget *dropTarget() const { return m_dropTarget; }
    analysis::DropArea *dropArea() const { return m_dropArea; }
    QComboBox *picker() const { return m_picker; }
    QListView *itemsView() const { return m_items; }
    QLabel *footerLabel() const { return m_footer; }
    QPushButton *chooseFilesButton() const { return m_chooseFiles; }
    QPushButton *chooseFolderButton() const { return m_chooseFolder; }
    QPushButton *clearButton() const { return m_clear; }
    int itemCount() const;

signals:
    void chooseFilesRequested();
    void chooseFolderRequested();
    void clearRequested();
    // The picker chose another preset.
    void presetChosen(const QString &presetID);

private:
    void fitItems();

    PresetCardDescription m_description;
    std::optional<service::Preset> m_preset;
    QSortFilterProxyModel *m_filter;
    analysis::CardDropTarget *m_dropTarget;
    analysis::DropArea *m_dropArea;
    QComboBox *m_picker = nullptr;
    QListView *m_items;
    QLabel *m_footer;
    QPushButton *m_chooseFiles;
    QPushButton *m_chooseFolder;
    QPushButton *m_clear;
    bool m_updatingPicker = false;
};

} // namespace vorlik::convert
