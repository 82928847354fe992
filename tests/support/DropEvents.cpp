#include "tests/support/DropEvents.h"

#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDragLeaveEvent>
#include <QDragMoveEvent>
#include <QDropEvent>

namespace vorlik::test {
namespace {

QPoint middle(QWidget *target) { return target->rect().center(); }

} // namespace

std::unique_ptr<QMimeData> fileData(const QList<QUrl> &files)
{
    auto data = std::make_unique<QMimeData>();
    data->setUrls(files);
    return data;
}

std::unique_ptr<QMimeData> textData(const QString &text)
{
    auto data = std::make_unique<QMimeData>();
    data->setText(text);
    return data;
}

DragAnswer dragEnter(QWidget *target, const QMimeData &data)
{
    QDragEnterEvent event(middle(target), Qt::CopyAction | Qt::MoveAction | Qt::LinkAction, &data, Qt::LeftButton,
                          Qt::NoModifier);
    event.ignore();
    QCoreApplication::sendEvent(target, &event);
    return {event.isAccepted(), event.dropAction()};
}

DragAnswer dragMove(QWidget *target, const QMimeData &data)
{
    QDragMoveEvent event(middle(target), Qt::CopyAction | Qt::MoveAction | Qt::LinkAction, &data, Qt::LeftButton,
                         Qt::NoModifier);
    event.ignore();
    QCoreApplication::sendEvent(target, &event);
    return {event.isAccepted(), event.dropAction()};
}

void dragLeave(QWidget *target)
{
    QDragLeaveEvent event;
    QCoreApplication::sendEvent(target, &event);
}

DragAnswer drop(QWidget *target, const QMimeData &data)
{
    QDropEvent event(QPointF(middle(target)), Qt::CopyAction | Qt::MoveAction | Qt::LinkAction, &data, Qt::LeftButton,
                     Qt::NoModifier);
    event.ignore();
    QCoreApplication::sendEvent(target, &event);
    return {event.isAccepted(), event.dropAction()};
}

bool dropFiles(QWidget *target, const QList<QUrl> &files)
{
    const std::unique_ptr<QMimeData> data = fileData(files);
    dragEnter(target, *data);
    dragMove(target, *data);
    return drop(target, *data).accepted;
}

bool dropFiles(QWidget *target, const QStringList &paths)
{
    QList<QUrl> files;
    for (const QString &path : paths)
        files.append(QUrl::fromLocalFile(path));
    return dropFiles(target, files);
}

} // namespace vorlik::test
