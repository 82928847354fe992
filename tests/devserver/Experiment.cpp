#include "tests/devserver/DevServerCalls.h"
#include <gtest/gtest.h>
#include <QJsonArray>
using namespace vorlik::test;
TEST(Experiment, retries)
{
    DevServer &s = DevServer::shared();
    for (const char *m : {"GET", "POST"}) {
        s.reset();
        s.addFault(QJsonObject{{"path", "/health"}, {"action", "close"}, {"count", -1}});
        RawReply r = rawCall(s.baseUrl(), m, "/health", QByteArray(m) == "POST" ? QByteArray("{\"a\":1}") : QByteArray());
        std::cout << m << " error " << r.error << " attempts " << s.requests().size() << std::endl;
        s.reset();
        s.addFault(QJsonObject{{"path", "/health"}, {"action", "close"}, {"count", 1}});
        r = rawCall(s.baseUrl(), m, "/health", QByteArray(m) == "POST" ? QByteArray("{\"a\":1}") : QByteArray());
        std::cout << m << " count1 error " << r.error << " status " << r.status << " attempts " << s.requests().size() << std::endl;
    }
}
