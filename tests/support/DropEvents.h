#pragma once
// Drags and drops sent straight to a widget, as the window system would deliver them: enter,
// move, leave and drop events carrying MIME data (file URLs, or anything else).
#include <QList>
#include <QMimeData>
#include <QUrl>
#include <QWidget>

#include <memory>
#include <optional>

namespace vorlik::test {

std::unique_ptr<QMimeData> fileData(const QList<QUrl> &files);
std::unique_ptr<QMimeData> textData(const QString &text);

struct DragAnswer {
    bool accepted = false;
    Qt::DropAction action = Qt::IgnoreAction;
};

DragAnswer dragEnter(QWidget *target, const QMimeData &data);
DragAnswer dragMove(QWidget *target, const QMimeData &data);
void dragLeave(QWidget *target);
// The drop itself: accepted when the widget took it.
DragAnswer drop(QWidget *target, const QMimeData &data);

// Enter, move and drop of these files at `at` (the middle of the widget by default); true when
// the drop was accepted.
bool dropFiles(QWidget *target, const QList<QUrl> &files, std::optional<QPointF> at = {});
bool dropFiles(QWidget *target, const QStringList &paths, std::optional<QPointF> at = {});

} // namespace vorlik::test
