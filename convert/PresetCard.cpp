#include "convert/PresetCard.h"

#include "convert/CardItemDelegate.h"
#include "convert/LoudnessSearch.h"
#include "convert/NamedPicker.h"

#include "analysis/AnalysisCard.h"
#include "analysis/CardDropTarget.h"
#include "analysis/DropArea.h"
#include "analysis/PageStyle.h"
#include "analysis/SymbolIcon.h"
#include "convert/QueueModel.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QRegularExpression>
#include <QSortFilterProxyModel>
#include <QVBoxLayout>

namespace vorlik::convert {
namespace {

using analysis::style::secondaryText;
using analysis::style::setTextColor;

constexpr int visibleItemRows = 4;

} // namespace

PresetCard::PresetCard(PresetCardDescription description, QAbstractItemModel *queue, QWidget *parent)
    : QWidget(parent), m_description(std::move(description)), m_filter(new QSortFilterProxyModel(this))
{
    setObjectName(QStringLiteral("presetCard-") + m_description.key);
    setAccessibleName(m_description.title);
    m_filter->setSourceModel(queue);
    m_filter->setFilterRole(QueueModel::PresetIDRole);

    auto *card = new analysis::AnalysisCard;
    auto *icon = new QLabel(card);
    icon->setPixmap(analysis::SymbolIcon::pixmap(m_description.symbol, 18, QColor(0x4a, 0x4d, 0x55)));
    icon->setFixedSize(18, 18);
    auto *title = new QLabel(m_description.title, card);
    title->setObjectName(QStringLiteral("cardTitle"));
    QFont titleFont = title->font();
    titleFont.setWeight(QFont::Bold);
    title->setFont(titleFont);
    auto *header = new QHBoxLayout;
    header->setSpacing(8);
    header->addWidget(icon);
    header->addWidget(title, 1);

    auto *layout = new QVBoxLayout(card);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->setSpacing(8);
    layout->addLayout(header);

    if (!m_description.pickerTitle.isEmpty()) {
        auto *pickerTitle = new QLabel(m_description.pickerTitle, card);
        QFont small = pickerTitle->font();
        small.setPointSizeF(small.pointSizeF() * 0.85);
        small.setWeight(QFont::DemiBold);
        pickerTitle->setFont(small);
        setTextColor(pickerTitle, secondaryText);
        m_picker = new NamedPicker(m_description.pickerTitle, card);
        m_picker->setObjectName(QStringLiteral("picker"));
        m_picker->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        m_picker->setMinimumContentsLength(8);
        pickerTitle->setBuddy(m_picker);
        auto *pickerRow = new QHBoxLayout;
        pickerRow->addWidget(pickerTitle);
        pickerRow->addWidget(m_picker, 1);
        layout->addLayout(pickerRow);
        connect(m_picker, &QComboBox::currentIndexChanged, this, [this](int index) {
            if (!m_updatingPicker && index >= 0)
                emit presetChosen(m_picker->itemData(index).toString());
        });
    }

    m_dropArea = new analysis::DropArea(m_description.dropTitle, m_description.hint, card);
    layout->addWidget(m_dropArea, 1);

    m_items = new QListView(card);
    m_items->setObjectName(QStringLiteral("cardItems"));
    m_items->setModel(m_filter);
    m_items->setUniformItemSizes(true);
    m_items->setSelectionMode(QAbstractItemView::NoSelection);
    m_items->setFocusPolicy(Qt::NoFocus);
    m_items->setItemDelegate(new CardItemDelegate(m_items));
    m_items->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_items->setFrameShape(QFrame::NoFrame);
    m_items->viewport()->setAutoFillBackground(false);
    layout->addWidget(m_items);

    m_footer = new QLabel(m_description.footer, card);
    m_footer->setObjectName(QStringLiteral("cardFooter"));
    setTextColor(m_footer, secondaryText);
    layout->addWidget(m_footer);

    m_chooseFiles = new QPushButton(QStringLiteral("Choose Files"), card);
    m_chooseFolder = new QPushButton(QStringLiteral("Choose Folder"), card);
    m_clear = new QPushButton(QStringLiteral("Clear"), card);
    // Narrower than the style's usual button when the card is narrow, never narrower than the text.
    for (QPushButton *button : {m_chooseFiles, m_chooseFolder, m_clear})
        button->setMinimumWidth(button->fontMetrics().horizontalAdvance(button->text()) + 14);
    // Four cards have the same buttons: each is named with its card's title as well.
    for (QPushButton *button : {m_chooseFiles, m_chooseFolder, m_clear})
        button->setAccessibleName(button->text() + QStringLiteral(" (") + m_description.title + u')');
    connect(m_chooseFiles, &QPushButton::clicked, this, &PresetCard::chooseFilesRequested);
    connect(m_chooseFolder, &QPushButton::clicked, this, &PresetCard::chooseFolderRequested);
    connect(m_clear, &QPushButton::clicked, this, &PresetCard::clearRequested);
    auto *buttons = new QHBoxLayout;
    buttons->setSpacing(6);
    buttons->addWidget(m_chooseFiles);
    buttons->addWidget(m_chooseFolder);
    buttons->addStretch(1);
    buttons->addWidget(m_clear);
    layout->addLayout(buttons);

    m_dropTarget = new analysis::CardDropTarget(card, this);
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(m_dropTarget);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);

    for (auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
        connect(m_filter, signal, this, &PresetCard::fitItems);
    connect(m_filter, &QAbstractItemModel::modelReset, this, &PresetCard::fitItems);
    fitItems();
    m_dropTarget->remeasure();
}

int PresetCard::itemCount() const { return m_filter->rowCount(); }

QString PresetCard::hint(const PresetCardDescription &description, const std::optional<service::Preset> &preset)
{
    // A preset that measures first applies its limiter only where the peaks would pass the
    // ceiling, not always: the card says what it does.
    if (preset && preset->loudness)
        return QStringLiteral("measured first \u00B7 limiter only where peaks pass ")
            + LoudnessSearch::decibels(preset->loudness->ceiling, 0) + QStringLiteral(" dBTP");
    return description.hint;
}

void PresetCard::setPreset(const std::optional<service::Preset> &preset, const QList<service::Preset> &choices)
{
    m_preset = preset;
    m_dropArea->setTexts(m_description.dropTitle, hint(m_description, preset));
    const QString id = preset ? preset->id : QString();
    m_filter->setFilterRegularExpression(
        QRegularExpression(QStringLiteral("^") + QRegularExpression::escape(id) + QStringLiteral("$")));
    if (m_picker) {
        m_updatingPicker = true;
        m_picker->clear();
        for (const service::Preset &choice : choices)
            m_picker->addItem(choice.name, choice.id);
        m_picker->setCurrentIndex(m_picker->findData(id));
        m_picker->setToolTip(preset && preset->summary ? *preset->summary : QString());
        m_updatingPicker = false;
    }
    fitItems();
}

void PresetCard::fitItems()
{
    const int rows = m_filter->rowCount();
    m_items->setVisible(rows > 0);
    const int rowHeight = rows > 0 ? std::max(m_items->sizeHintForRow(0), 1) : 0;
    m_items->setFixedHeight(std::min(rows, visibleItemRows) * rowHeight + 2);
}

} // namespace vorlik::convert
