#include "data/http_client.h"
#include "data/web_service.h"
#include "support/ref_web_service.h"
#include "support/test_db.h"

#include <QFile>
#include <QTemporaryDir>
#include <thread>
#include <gtest/gtest.h>

using namespace tarvelo;
using namespace std::chrono_literals;
using data::HttpClient;
using data::percentEncode;
using test::RefWebService;

namespace {

TEST(PercentEncoding, KeepsOnlyUnreservedCharacters)
{
    EXPECT_EQ(percentEncode(u"AZaz09-._~"), "AZaz09-._~");
    EXPECT_EQ(percentEncode(u"a&b=c#d e?f/g+h%i;j@k:l'm\"n\\o"),
              "a%26b%3Dc%23d%20e%3Ff%2Fg%2Bh%25i%3Bj%40k%3Al%27m%22n%5Co");
    EXPECT_EQ(percentEncode(u""), "");
    EXPECT_EQ(percentEncode(u"\r\n\t"), "%0D%0A%09");
}

TEST(PercentEncoding, EncodesTheUtf8BytesOfOtherLetters)
{
    EXPECT_EQ(percentEncode(QStringLiteral("فرع")), "%D9%81%D8%B1%D8%B9");
    EXPECT_EQ(percentEncode(QStringLiteral("é€")), "%C3%A9%E2%82%AC");
}

TEST(WebRequestUrl, JoinsBaseScriptAndQueryInTheGivenOrder)
{
    EXPECT_EQ(data::webRequestUrl("http://127.0.0.1:8/test1/", "getnow.php"), "http://127.0.0.1:8/test1/getnow.php");
    EXPECT_EQ(data::webRequestUrl("http://h/test1/", "VerNum.php", {{"NoDev", "a b"}, {"Kin", "2"}}),
              "http://h/test1/VerNum.php?NoDev=a%20b&Kin=2");
    EXPECT_EQ(data::webRequestUrl("http://h/test1/", "x.php", {{"z", ""}, {"a", "&"}}), "http://h/test1/x.php?z=&a=%26");
}

class HttpRequests : public ::testing::Test {
protected:
    QTemporaryDir downloads;
    QByteArray payload;
    std::unique_ptr<RefWebService> web;
    HttpClient http{5s};

    void SetUp() override
    {
        // Binary content with NULs and line ends, which must arrive byte for byte.
        for (int i = 0; i < 70000; ++i)
            payload.append(char((i * 7919) % 256));
        payload.append("\r\n\0\n", 4);
        QFile f(downloads.filePath("Update4.exe"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(payload);
        f.close();
        RefWebService::Options options;
        options.downloadsDir = downloads.path();
        web = std::make_unique<RefWebService>(options);
    }
    void TearDown() override { web.reset(); }
};

TEST_F(HttpRequests, BodiesArriveByteForByte)
{
    const data::HttpReply reply = http.get(web->downloadsUrl() + "Update4.exe");
    ASSERT_TRUE(reply.ok) << reply.error.toStdString();
    EXPECT_EQ(reply.status, 200);
    EXPECT_TRUE(reply.success());
    EXPECT_EQ(reply.body, payload);
    EXPECT_EQ(reply.header("content-length"), QByteArray::number(payload.size()));
}

TEST_F(HttpRequests, ARangeHeaderFetchesTheRestOfAFile)
{
    const data::HttpReply reply = http.get(web->downloadsUrl() + "Update4.exe", {{"Range", "bytes=65536-"}});
    ASSERT_TRUE(reply.ok) << reply.error.toStdString();
    EXPECT_EQ(reply.status, 206);
    EXPECT_EQ(reply.body, payload.mid(65536));
    EXPECT_EQ(reply.header("Content-Range"),
              QByteArray("bytes 65536-") + QByteArray::number(payload.size() - 1) + "/"
                  + QByteArray::number(payload.size()));
    EXPECT_EQ(web->requests(), QStringList{"/downloads/Update4.exe"});
}

TEST_F(HttpRequests, AnErrorStatusIsAnAnswerButNoSuccess)
{
    const data::HttpReply missing = http.get(web->downloadsUrl() + "nothing.exe");
    ASSERT_TRUE(missing.ok);
    EXPECT_EQ(missing.status, 404);
    EXPECT_FALSE(missing.success());

    web->failNext("getnow.php", 1, RefWebService::Fault::httpError(500, "page"));
    const data::HttpReply failed = http.get(web->baseUrl() + "getnow.php");
    ASSERT_TRUE(failed.ok);
    EXPECT_EQ(failed.status, 500);
    EXPECT_EQ(failed.body, "page");
    EXPECT_FALSE(failed.success());
}

TEST_F(HttpRequests, RedirectsAreFollowedAFewTimesAndTheFinalAnswerCounts)
{
    web->setVerNum("moved here");
    web->failNext("getnow.php", 1, RefWebService::Fault::redirect(web->baseUrl() + "VerNum.php"));
    const data::HttpReply moved = http.get(web->baseUrl() + "getnow.php", {{"Range", "bytes=0-"}});
    ASSERT_TRUE(moved.success()) << moved.error.toStdString();
    EXPECT_EQ(moved.body, "moved here");

    web->failNext("getnow.php", 1, RefWebService::Fault::redirect(web->baseUrl() + "missing.php", 301));
    const data::HttpReply gone = http.get(web->baseUrl() + "getnow.php");
    EXPECT_EQ(gone.status, 404);
    EXPECT_FALSE(gone.success());

    // A redirect loop ends after five.
    web->clearRequests();
    web->failNext("getnow.php", 100, RefWebService::Fault::redirect(web->baseUrl() + "getnow.php"));
    const data::HttpReply loop = http.get(web->baseUrl() + "getnow.php");
    EXPECT_FALSE(loop.ok);
    EXPECT_FALSE(loop.success());
    EXPECT_EQ(web->requestsTo("getnow.php").size(), 1 + HttpClient::MaxRedirects);
}

TEST_F(HttpRequests, ABoundedBodyIsReadNoFurtherThanTheBound)
{
    const qint64 limit = HttpClient::TextReplyLimit;
    web->failNext("getnow.php", 1, RefWebService::Fault::streamed(limit));
    const data::HttpReply fits = http.get(web->baseUrl() + "getnow.php", {}, limit);
    ASSERT_TRUE(fits.success()) << fits.error.toStdString();
    EXPECT_EQ(fits.body.size(), limit);

    web->failNext("getnow.php", 1, RefWebService::Fault::streamed(limit + 1));
    const data::HttpReply over = http.get(web->baseUrl() + "getnow.php", {}, limit);
    EXPECT_FALSE(over.ok);
    EXPECT_TRUE(over.body.isEmpty());
    EXPECT_TRUE(over.error.contains("longer")) << over.error.toStdString();

    // 1 GiB would take seconds and gigabytes to read whole; the bound ends it at once.
    web->failNext("getnow.php", 1, RefWebService::Fault::streamed(qint64(1) << 30));
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(http.get(web->baseUrl() + "getnow.php", {}, limit).ok);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 3s);

    // Unbounded, as downloads are, a long body arrives whole.
    web->failNext("getnow.php", 1, RefWebService::Fault::streamed(3 * limit));
    const data::HttpReply download = http.get(web->baseUrl() + "getnow.php");
    ASSERT_TRUE(download.success()) << download.error.toStdString();
    EXPECT_EQ(download.body.size(), 3 * limit);
}

TEST_F(HttpRequests, NoServiceOrNoAnswerInTimeIsAFailure)
{
    const data::HttpReply refused = http.get(QStringLiteral("http://127.0.0.1:%1/test1/getnow.php").arg(test::kClosedPort));
    EXPECT_FALSE(refused.ok);
    EXPECT_EQ(refused.status, 0);
    EXPECT_FALSE(refused.error.isEmpty());

    http.setTimeout(200ms);
    web->failNext("getnow.php", 1, RefWebService::Fault::delayed(3s));
    const data::HttpReply late = http.get(web->baseUrl() + "getnow.php");
    EXPECT_FALSE(late.ok);
    EXPECT_FALSE(late.success());

    const data::HttpReply malformed = http.get("not a url");
    EXPECT_FALSE(malformed.ok);
}

TEST_F(HttpRequests, AWaitRunsThePumpAndARequestFromInsideItFailsAtOnce)
{
    int pumps = 0;
    data::HttpReply nested;
    nested.ok = true;
    http.setPump([&] {
        if (++pumps == 1)
            nested = http.getText(web->baseUrl() + "getnow.php");
    });
    web->failNext("getnow.php", 1, RefWebService::Fault::delayed(300ms));
    const data::HttpReply reply = http.getText(web->baseUrl() + "getnow.php");
    EXPECT_TRUE(reply.success()) << reply.error.toStdString();
    EXPECT_GT(pumps, 1);
    EXPECT_FALSE(nested.ok);
    EXPECT_EQ(web->requestsTo("getnow.php").size(), 1);
}

TEST_F(HttpRequests, OneClientAsksManyTimesOverItsKeptConnection)
{
    for (int i = 0; i < 300; ++i) {
        const data::HttpReply reply = http.get(web->baseUrl() + "LastSendError.php?NoDev=" + QString::number(i));
        ASSERT_TRUE(reply.success()) << i << " " << reply.error.toStdString();
        ASSERT_EQ(reply.body, "--");
    }
    EXPECT_EQ(web->requestsTo("LastSendError.php").size(), 300);
    EXPECT_EQ(web->requests().last(), "/test1/LastSendError.php?NoDev=299");
}

TEST(ReferenceWebService, AnswersTheTextsATestSetsAndTheServerClock)
{
    RefWebService web;
    HttpClient http;
    EXPECT_EQ(http.get(web.baseUrl() + "LastSendError.php?NoDev=7").body, "--");
    EXPECT_EQ(http.get(web.baseUrl() + "VerNumSyn.php").body, "");
    web.setVerNumSyn("010119");
    web.setVerNum("0101183");
    web.setLastSendError("2024-01-01 10:00:00");
    EXPECT_EQ(http.get(web.baseUrl() + "VerNumSyn.php").body, "010119");
    EXPECT_EQ(http.get(web.baseUrl() + "VerNum.php?NoDev=7&Kin=2").body, "0101183");
    EXPECT_EQ(http.get(web.baseUrl() + "LastSendError.php?NoDev=7").body, "2024-01-01 10:00:00");

    const QString now = QString::fromUtf8(http.get(web.baseUrl() + "getnow.php").body);
    const auto server = data::parseServerTime(now);
    ASSERT_TRUE(server.has_value()) << now.toStdString();
    EXPECT_LE(std::abs(QDateTime::currentDateTime().secsTo(*server)), 2);

    EXPECT_EQ(http.get(web.baseUrl() + "unknown.php").status, 404);
}

TEST(ReferenceWebService, FaultsApplyToTheNextRequestsOfTheirScriptInTurn)
{
    RefWebService web;
    HttpClient http;
    web.failNext("LastSendError.php", 2, RefWebService::Fault::reply("A"));
    web.failNext("LastSendError.php", 1, RefWebService::Fault::httpError(502, "B"));
    EXPECT_EQ(http.get(web.baseUrl() + "VerNum.php").body, "") << "other scripts are not affected";
    EXPECT_EQ(http.get(web.baseUrl() + "LastSendError.php").body, "A");
    EXPECT_EQ(http.get(web.baseUrl() + "LastSendError.php").body, "A");
    const data::HttpReply third = http.get(web.baseUrl() + "LastSendError.php");
    EXPECT_EQ(third.status, 502);
    EXPECT_EQ(third.body, "B");
    EXPECT_EQ(http.get(web.baseUrl() + "LastSendError.php").body, "--");
    web.clearRequests();
    EXPECT_TRUE(web.requests().isEmpty());
}

TEST(ReferenceWebService, StopsAtOnceWhileClientsKeepConnectionsOpenOrWait)
{
    // Keep-alive and delay far beyond the test's time limit: a stop that waited for idle
    // connections or sleeping answers would fail this test.
    RefWebService::Options options;
    options.keepAlive = std::chrono::seconds(600);
    auto web = std::make_unique<RefWebService>(options);
    HttpClient idle;
    ASSERT_TRUE(idle.get(web->baseUrl() + "VerNum.php").success());

    web->failNext("getnow.php", 1, RefWebService::Fault::delayed(600s));
    data::HttpReply waiting;
    std::thread waiter([&] {
        HttpClient http(std::chrono::minutes(10));
        waiting = http.get(web->baseUrl() + "getnow.php");
    });
    for (int i = 0; i < 10000 && web->requestsTo("getnow.php").isEmpty(); ++i)
        std::this_thread::sleep_for(1ms);
    web.reset();
    waiter.join();
    EXPECT_FALSE(waiting.success());
}

}  // namespace
