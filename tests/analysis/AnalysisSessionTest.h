#pragma once
#include "tests/analysis/TestAudio.h"
#include "tests/service/SessionTestSupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>

namespace vorlik::test {

class AnalysisSessionTest : public SessionTest {
protected:
    void SetUp() override
    {
        SessionTest::SetUp();
        ASSERT_TRUE(m_files.isValid());
    }

    // A -6 dBFS sine of `seconds` in the test's folder.
    QUrl tone(const QString &name, double seconds = 0.5)
    {
        writeFile(m_files.filePath(name), sineWAV(seconds));
        return QUrl::fromLocalFile(m_files.filePath(name));
    }

    // A file of `size` bytes that takes no room on disk.
    QUrl sparseFile(const QString &name, qint64 size)
    {
        QFile file(m_files.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.resize(size));
        return QUrl::fromLocalFile(file.fileName());
    }

    // How the service's jobs end from now on ("outcome": "hang", "fail" with "error_summary", …).
    static void behave(const QJsonObject &behaviour)
    {
        const auto [status, body] = server().call("POST", QStringLiteral("/admin/jobs"), QJsonDocument(behaviour).toJson());
        ASSERT_EQ(status, 200) << body.toStdString();
    }

    QTemporaryDir m_files;
};

} // namespace vorlik::test
