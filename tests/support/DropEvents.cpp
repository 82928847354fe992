#include "tests/support/DropEvents.h"

#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDragLeaveEvent>
#include <QDragMoveEvent>
#include <QDropEvent>

#include <type_traits>

namespace vorlik::test {
namespace {

// One event of the drag at `at` (the middle of the widget by default); what the widget answered.
template <typename Event>
DragAnswer send(QWidget *target, const QMimeData &data, std::optional<QPointF> at = {})
{
    const QPointF point = at.value_or(QPointF(target->rect().center()));
    const auto position = [&] { // only a drop carries a fractional point
        if constexpr (std::is_same_v<Event, QDropEvent>)
            return point;
        else
            return point.toPoint();
    }();
    Event event(position, Qt::CopyAction | Qt::MoveAction | Qt::LinkAction, &data, Qt::LeftButton, Qt::NoModifier);
    event.ignore();
    QCoreApplication::sendEvent(target, &event);
    return {event.isAccepted(), event.dropAction()};
}

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

DragAnswer dragEnter(QWidget *target, const QMimeData &data) { return send<QDragEnterEvent>(target, data); }
DragAnswer dragMove(QWidget *target, const QMimeData &data) { return send<QDragMoveEvent>(target, data); }
DragAnswer drop(QWidget *target, const QMimeData &data) { return send<QDropEvent>(target, data); }

void dragLeave(QWidget *target)
{
    QDragLeaveEvent event;
    QCoreApplication::sendEvent(target, &event);
}

bool dropFiles(QWidget *target, const QList<QUrl> &files, std::optional<QPointF> at)
{
    const std::unique_ptr<QMimeData> data = fileData(files);
    send<QDragEnterEvent>(target, *data, at);
    send<QDragMoveEvent>(target, *data, at);
    return send<QDropEvent>(target, *data, at).accepted;
}

bool dropFiles(QWidget *target, const QStringList &paths, std::optional<QPointF> at)
{
    QList<QUrl> files;
    for (const QString &path : paths)
        files.append(QUrl::fromLocalFile(path));
    return dropFiles(target, files, at);
}

} // namespace vorlik::test
