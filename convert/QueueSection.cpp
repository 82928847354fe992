#include "convert/QueueSection.h"

#include "analysis/PageStyle.h"
#include "convert/ConvertRunner.h"
#include "convert/QueueModel.h"
#include "convert/QueueRowKeys.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QProgressBar>
#include <QPushButton>
#include <QToolTip>
#include <QVBoxLayout>

namespace vorlik::convert {
namespace {

using analysis::style::secondaryText;
using analysis::style::setText;
using analysis::style::setTextColor;

QLabel *heading(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    QFont font = label->font();
    font.setWeight(QFont::Bold);
    font.setLetterSpacing(QFont::AbsoluteSpacing, 0.6);
    label->setFont(font);
    return label;
}

} // namespace

QueueSection::QueueSection(QueueModel *model, QWidget *parent) : QWidget(parent), m_model(model)
{
    setObjectName(QStringLiteral("queueSection"));
    m_counts = new QLabel(this);
    m_counts->setObjectName(QStringLiteral("queueCounts"));
    setTextColor(m_counts, secondaryText);
    m_clearFinished = new QPushButton(QStringLiteral("Clear finished"), this);
    connect(m_clearFinished, &QPushButton::clicked, this, &QueueSection::clearFinishedRequested);
    m_queueBar = new QProgressBar(this);
    m_queueBar->setObjectName(QStringLiteral("queueProgressBar"));
    m_queueBar->setTextVisible(false);
    m_queueBar->setFixedSize(120, 6);
    m_queueBar->hide();
    m_queueProgress = new QLabel(this);
    m_queueProgress->setObjectName(QStringLiteral("queueProgress"));
    setTextColor(m_queueProgress, secondaryText);
    m_queueProgress->hide();
    auto *header = new QHBoxLayout;
    header->setSpacing(12);
    header->addWidget(heading(QStringLiteral("QUEUE"), this));
    header->addWidget(m_counts);
    header->addSpacing(8);
    header->addWidget(m_queueBar, 0, Qt::AlignVCenter);
    header->addWidget(m_queueProgress);
    header->addStretch(1);
    header->addWidget(m_clearFinished);

    m_empty = new QLabel(QStringLiteral("Nothing queued yet \u2014 drop files on a card above."), this);
    m_empty->setObjectName(QStringLiteral("queueEmpty"));
    setTextColor(m_empty, secondaryText);

    m_view = new QListView(this);
    m_view->setObjectName(QStringLiteral("queueView"));
    m_view->setModel(m_model);
    m_delegate = new QueueRowDelegate(m_view);
    m_view->setItemDelegate(m_delegate);
    m_view->setSelectionMode(QAbstractItemView::NoSelection);
    m_view->setToolTip(QueueRowKeys::keysHint());
    auto *keys = new QueueRowKeys(m_view);
    connect(keys, &QueueRowKeys::triggered, this, &QueueSection::act);
    m_view->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_view->setFrameShape(QFrame::NoFrame);
    m_view->setMouseTracking(false);
    connect(m_delegate, &QueueRowDelegate::clicked, this, &QueueSection::act);
    connect(m_model, &QAbstractItemModel::rowsInserted, this, &QueueSection::fit);
    connect(m_model, &QAbstractItemModel::rowsRemoved, this, &QueueSection::fit);
    connect(m_model, &QAbstractItemModel::modelReset, this, &QueueSection::fit);
    connect(m_model, &QueueModel::rowHeightsChanged, this, [this] {
        m_view->doItemsLayout();
        fit();
    });

    // While a run goes: the header's whole-queue line, and the rows' bars and clocks, move on
    // with each step of ffmpeg and each second.
    ConvertRunner &runner = m_model->runner();
    connect(&runner, &ConvertRunner::progressChanged, this, &QueueSection::showQueueProgress);
    connect(&runner, &ConvertRunner::itemsChanged, this, &QueueSection::showQueueProgress);
    connect(&runner, &ConvertRunner::isRunningChanged, this, &QueueSection::showQueueProgress);
    m_tick.setInterval(1000);
    connect(&m_tick, &QTimer::timeout, this, [this] {
        showQueueProgress();
        m_view->viewport()->update();
    });

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 4, 0, 0);
    layout->setSpacing(6);
    layout->addLayout(header);
    layout->addWidget(m_empty);
    layout->addWidget(m_view);
    fit();
}

void QueueSection::showItems(const QList<QueueItem> &items)
{
    setText(m_counts, countsText(items));
    m_empty->setVisible(items.isEmpty());
    m_view->setVisible(!items.isEmpty());
}

void QueueSection::showQueueProgress()
{
    const ConvertRunner &runner = m_model->runner();
    const bool running = runner.isRunning();
    if (running != m_tick.isActive()) {
        if (running)
            m_tick.start();
        else
            m_tick.stop();
    }
    m_queueBar->setVisible(running);
    m_queueProgress->setVisible(running);
    if (!running)
        return;
    const QueueProgress progress = runner.queueProgress(ConversionProgress::Clock::now());
    m_queueBar->setRange(0, 1000);
    m_queueBar->setValue(int(progress.fraction() * 1000));
    setText(m_queueProgress, progress.text());
}

QString QueueSection::countsText(const QList<QueueItem> &items)
{
    qsizetype done = 0;
    qsizetype failed = 0;
    qsizetype pending = 0;
    for (const QueueItem &item : items) {
        if (!item.succeeded)
            ++pending;
        else if (*item.succeeded)
            ++done;
        else
            ++failed;
    }
    return QString::number(done) + QStringLiteral(" done \u00B7 ") + QString::number(failed)
           + QStringLiteral(" failed \u00B7 ") + QString::number(pending) + QStringLiteral(" pending");
}

void QueueSection::act(const QUuid &id, QueueRowDelegate::Button button)
{
    // Retry and Remove change the queue, which stays as it is while a run goes: say so at the
    // row instead of doing nothing.
    if (button == QueueRowDelegate::Button::reveal || m_model->runner().runState() == ConvertRunner::RunState::idle) {
        emit rowButtonClicked(id, button);
        return;
    }
    QApplication::beep();
    QRect row;
    for (int index = 0; index < m_model->rowCount(); ++index) {
        if (m_model->item(index).id == id)
            row = m_view->visualRect(m_model->index(index));
    }
    QToolTip::showText(m_view->viewport()->mapToGlobal(row.center()),
                       QStringLiteral("The queue changes once it stops: Stop, then ") + QueueRowDelegate::title(button)
                           + u'.',
                       m_view->viewport(), row);
}

QRect QueueSection::buttonRect(int row, QueueRowDelegate::Button button) const
{
    const QModelIndex index = m_model->index(row);
    if (!index.isValid())
        return {};
    QStyleOptionViewItem option;
    option.initFrom(m_view);
    option.rect = m_view->visualRect(index);
    option.widget = m_view;
    return m_delegate->buttonRect(option, index, button);
}

void QueueSection::fit()
{
    int height = 0;
    const int rows = m_model->rowCount();
    for (int row = 0; row < rows; ++row)
        height += m_view->sizeHintForRow(row);
    m_view->setFixedHeight(height + 2 * m_view->frameWidth());
}

} // namespace vorlik::convert
