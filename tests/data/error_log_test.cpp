#include "data/error_log.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace tarvelo;

namespace {

QByteArray contents(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

TEST(ErrorLogFile, CreatedByTheFirstLineThenAppendedWithCrLf)
{
    QTemporaryDir dir;
    data::ErrorLog log(dir.path());
    EXPECT_FALSE(QFile::exists(log.path()));
    log.Save_Code(data::startLine(QDateTime::currentDateTime()));
    log.Save_Code(data::kinProLine(5));
    log.Err_Step = 0;
    log.failure("SYN016");

    const QList<QByteArray> lines = contents(dir.path() + "/Save_Code.txt").split('\n');
    ASSERT_EQ(lines.size(), 4);  // three lines and the empty rest after the last line end
    EXPECT_TRUE(lines[0].startsWith("Start "));
    EXPECT_TRUE(lines[0].endsWith('\r'));
    EXPECT_EQ(lines[1], "KinPro 5\r");
    EXPECT_EQ(lines[2], "Error SYN016(0)\r");
    EXPECT_EQ(lines[3], "");

    // A second log object on the same folder appends, never overwrites.
    data::ErrorLog(dir.path() + "/").Save_Code("more");
    EXPECT_TRUE(contents(dir.path() + "/Save_Code.txt").endsWith("Error SYN016(0)\r\nmore\r\n"));
}

TEST(ErrorLogFile, StepGoesBackToZeroAfterAFailureLine)
{
    QTemporaryDir dir;
    data::ErrorLog log(dir.path());
    log.Err_Step = 3;
    log.failure("SYN027");
    log.failure("SYN027");
    EXPECT_EQ(contents(log.path()), "Error SYN027(3)\r\nError SYN027(0)\r\n");
}

TEST(ErrorLogFile, UnwritableFolderIsASilentNoOp)
{
    QTemporaryDir dir;
    // A folder that is really a file cannot hold the log, whoever runs the test.
    QFile blocker(dir.path() + "/notadir");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    data::ErrorLog log(dir.path() + "/notadir");
    log.Save_Code("lost");
    log.failure("SYN015");
    EXPECT_EQ(contents(dir.path() + "/notadir"), "");
    EXPECT_EQ(log.Err_Step, 0);
}

}  // namespace

TEST(ReasonLogFile, RepeatsAreCountedHourlyCredentialsRedactedAndTheFileBounded)
{
    QTemporaryDir dir;
    data::ReasonLog log(dir.path(), 400);
    log.setEcho(false);
    QDateTime t(QDate(2026, 1, 1), QTime(8, 0));
    log.now = [&] { return t; };
    const QString url = "http://127.0.0.1:1/test1/intBranx.php?host=h&user=u1&pasw=Secret9&datb=d1";
    for (int minute = 0; minute <= 60; ++minute, t = t.addSecs(60))
        log.write("web service intBranx.php", QStringLiteral("refused after %1 ms ").arg(minute % 7) + url, "Url_Web");
    log.write("server database connection", "Driver=x;uid=a;Pwd={p;w}};x=1", "DB_Pas_Ser");

    const QString text = QString::fromUtf8(contents(log.path()) + contents(log.path() + ".1"));
    EXPECT_EQ(text.count("intBranx.php: refused after"), 2);
    EXPECT_TRUE(text.contains("(59 more times since 2026-01-01 08:00:00)")) << text.toStdString();
    EXPECT_TRUE(text.contains("2026-01-01 08:00:00 web service intBranx.php: refused after 0 ms"));
    EXPECT_TRUE(text.contains("— check Url_Web"));
    for (const char* secret : {"u1", "Secret9", "d1", "p;w", "}};x"})
        EXPECT_FALSE(text.contains(QString::fromLatin1(secret))) << secret;
    EXPECT_TRUE(QFile::exists(log.path() + ".1"));
    EXPECT_LE(QFileInfo(log.path()).size(), 400);
}

TEST(ReasonLogFile, AnOutageAfterARecoveryIsWrittenAtOnceAndEachEndOnce)
{
    QTemporaryDir dir;
    data::ReasonLog log(dir.path());
    log.setEcho(false);
    QDateTime t(QDate(2026, 1, 1), QTime(8, 0));
    log.now = [&] { return t; };
    const auto fail = [&] { log.write("server database connection", "2002 Can't connect", "DB_Server_Ser"); };
    fail();
    t = t.addSecs(60);
    fail();  // the same outage: counted, not written
    t = t.addSecs(60);
    log.works("server database connection");
    log.works("server database connection");  // no outage left to end
    t = t.addSecs(22 * 60);
    fail();  // lost again within the hour
    log.works("web service getnow.php");  // a step that never failed

    const QStringList lines = QString::fromUtf8(contents(log.path())).split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3) << lines.join(u'\n').toStdString();
    EXPECT_TRUE(lines[0].startsWith("2026-01-01 08:00:00 server database connection: 2002"));
    EXPECT_EQ(lines[1], "2026-01-01 08:02:00 server database connection: works again (failing since "
                        "2026-01-01 08:00:00, 1 repeat not written)");
    EXPECT_TRUE(lines[2].startsWith("2026-01-01 08:24:00 server database connection: 2002"));
}

TEST(ErrorLogFile, BoundedAsTheReasonLogWithItsLinesUnchanged)
{
    QTemporaryDir dir;
    data::ErrorLog log(dir.path(), 1000);
    for (int cycle = 0; cycle < 200; ++cycle) {
        log.failure("SYN016");
        log.failure("SYN014");
    }
    const QByteArray now = contents(log.path()), old = contents(log.path() + ".1");
    EXPECT_LE(now.size(), 1000);
    EXPECT_GT(old.size(), 900);
    EXPECT_FALSE(QFile::exists(log.path() + ".2"));
    for (const QByteArray& line : (now + old).split('\n'))
        EXPECT_TRUE(line.isEmpty() || line == "Error SYN016(0)\r" || line == "Error SYN014(0)\r") << line.toStdString();
}
