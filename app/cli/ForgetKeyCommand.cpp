#include "app/cli/ForgetKeyCommand.h"

#include "service/KeychainStore.h"

namespace vorlik::app {

using service::KeychainStore;

QCoro::Task<int> runForgetKeyCommand(CommandLine line, QTextStream &out, QTextStream &err)
{
    const KeychainStore::Result result = co_await KeychainStore::removeInBackground();
    if (result.kind == KeychainStore::Result::Case::failure) {
        err << KeychainStore::removeText(result) << Qt::endl;
        co_return 1;
    }
    out << KeychainStore::removeText(result) << Qt::endl;
    co_return 0;
}

} // namespace vorlik::app
