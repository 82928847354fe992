#pragma once
// One file waiting for, going through or done with its conversion. A value, identified by `id`;
// pending exactly while `succeeded` is unset (a stopped item stays pending).
#include <QMetaType>
#include <QString>
#include <QUuid>

#include <optional>

namespace vorlik::convert {

struct QueueItem {
    QUuid id;
    QString input;       // the source file's absolute path
    QString destination; // the folder that receives the output, fixed when queued
    QString presetID;
    QString status;                     // the row text
    std::optional<bool> succeeded;      // unset: pending; true: done; false: failed
    std::optional<QString> output;      // the final output file after success
    std::optional<QString> errorDetail; // shown under a failed row
    std::optional<QString> note;        // shown under a done row: where it fell short of the preset's goal

    bool isPending() const { return !succeeded.has_value(); }

    friend bool operator==(const QueueItem &, const QueueItem &) = default;
};

} // namespace vorlik::convert

Q_DECLARE_METATYPE(vorlik::convert::QueueItem)
