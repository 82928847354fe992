#include "analysis/AnalysisDropCard.h"

#include "analysis/DropArea.h"
#include "analysis/PageStyle.h"
#include "analysis/SymbolIcon.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace vorlik::analysis {

AnalysisDropCard::AnalysisDropCard(QWidget *parent) : AnalysisCard(parent)
{
    setObjectName(QStringLiteral("analysisDropCard"));

    auto *symbol = new QLabel(this);
    symbol->setPixmap(SymbolIcon::pixmap(QStringLiteral("waveform"), 18, QColor(0x4a, 0x4d, 0x55)));
    symbol->setFixedSize(18, 18);
    auto *title = new QLabel(QStringLiteral("AUDIO ANALYSIS"), this);
    QFont titleFont = title->font();
    titleFont.setWeight(QFont::Bold);
    titleFont.setLetterSpacing(QFont::AbsoluteSpacing, 0.6);
    title->setFont(titleFont);
    m_busy = new QProgressBar(this);
    m_busy->setAccessibleName(QStringLiteral("Analysing"));
    m_busy->setRange(0, 0);
    m_busy->setTextVisible(false);
    m_busy->setFixedSize(70, 6);
    m_connection = new QLabel(this);
    m_connection->setObjectName(QStringLiteral("connectionLabel"));
    m_clear = new QPushButton(QStringLiteral("Clear"), this);
    connect(m_clear, &QPushButton::clicked, this, &AnalysisDropCard::clearRequested);

    auto *header = new QHBoxLayout;
    header->setSpacing(8);
    header->addWidget(symbol);
    header->addWidget(title);
    header->addWidget(m_busy);
    header->addStretch(1);
    header->addWidget(m_connection);
    header->addWidget(m_clear);

    m_dropArea = new DropArea(QStringLiteral("Drag and drop audio files here"),
                              QStringLiteral("wav \u00B7 aiff \u00B7 flac \u00B7 mp3 \u00B7 m4a \u00B7 aac \u00B7 ogg "
                                             "\u00B7 opus \u00B7 wma \u00B7 caf \u00B7 w64 \u00B7 amb"),
                              this);

    m_chooseFiles = new QPushButton(QStringLiteral("Choose Files"), this);
    m_chooseFolder = new QPushButton(QStringLiteral("Choose Folder"), this);
    m_stop = new QPushButton(QStringLiteral("Stop"), this);
    connect(m_chooseFiles, &QPushButton::clicked, this, &AnalysisDropCard::chooseFilesRequested);
    connect(m_chooseFolder, &QPushButton::clicked, this, &AnalysisDropCard::chooseFolderRequested);
    connect(m_stop, &QPushButton::clicked, this, &AnalysisDropCard::stopRequested);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_chooseFiles);
    buttons->addWidget(m_chooseFolder);
    buttons->addWidget(m_stop);
    buttons->addStretch(1);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 12, 16, 14);
    layout->setSpacing(10);
    layout->addLayout(header);
    layout->addWidget(m_dropArea, 1);
    layout->addLayout(buttons);
}

void AnalysisDropCard::showConnection(const QString &text, const QColor &color)
{
    m_connection->setText(QStringLiteral("\u25CF ") + text);
    style::setTextColor(m_connection, color);
}

void AnalysisDropCard::showRunState(bool running, bool canStop, bool canClear)
{
    m_busy->setVisible(running);
    m_stop->setEnabled(canStop);
    m_clear->setEnabled(canClear);
}

} // namespace vorlik::analysis
