#include "app/cli/RememberKeyCommand.h"

#include "service/KeychainStore.h"

namespace vorlik::app {

using service::KeychainStore;

QCoro::Task<int> runRememberKeyCommand(CommandLine line, QTextStream &out, QTextStream &err)
{
    // "-" is the key read from standard input, as for --key -.
    const bool fromKey = line.arguments.isEmpty() || line.arguments.first() == QLatin1String("-");
    const QString given = fromKey ? line.key.value_or(QString()) : line.arguments.first();
    const QString key = given.trimmed();
    if (key.isEmpty()) {
        err << "Enter a client key first." << Qt::endl;
        co_return 1;
    }
    const KeychainStore::Result result = co_await KeychainStore::saveInBackground(key);
    if (result.kind != KeychainStore::Result::Case::success) {
        err << KeychainStore::saveText(result) << Qt::endl;
        co_return 1;
    }
    out << KeychainStore::saveText(result) << Qt::endl;
    co_return 0;
}

} // namespace vorlik::app
