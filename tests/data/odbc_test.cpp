#include "data/database.h"
#include "support/test_db.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

using namespace tarvelo;

namespace {

// A loopback port that accepts connections and then says nothing, like a hung server.
class SilentListener {
public:
    SilentListener()
    {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(fd_, 16);
        socklen_t len = sizeof a;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
    }
    ~SilentListener() { ::close(fd_); }
    QString port() const { return QString::number(port_); }

private:
    int fd_ = -1;
    int port_ = 0;
};

TEST(OdbcTimeouts, ServerThatNeverAnswersFailsTheOpen)
{
    SilentListener silent;
    data::DbSettings s = test::TestServer::get().settings("x");
    s.port = silent.port();
    EXPECT_THROW(data::OdbcConnection::open(data::connectionString(s), 1, 1), data::DbError);
}

TEST(OdbcTimeouts, StatementsEndAtTheCommandTimeout)
{
    test::ScratchDatabase db("branch");
    auto conn = data::OdbcConnection::open(data::connectionString(db.settings()), 1);
    EXPECT_THROW(conn->query("SELECT SLEEP(4)"), data::DbError);

    // A row lock held elsewhere ends the waiting statement too, instead of the server's own long lock wait.
    db.exec("INSERT INTO branch_tab (no_rec, Ntel) VALUES ('01', 'a')");
    auto holder = db.connect();
    holder->query("START TRANSACTION");
    holder->query("UPDATE branch_tab SET Ntel = 'held' WHERE no_rec = '01'");
    auto waiter = data::OdbcConnection::open(data::connectionString(db.settings()), 1);
    EXPECT_THROW(waiter->query("UPDATE branch_tab SET Ntel = 'b' WHERE no_rec = '01'"), data::DbError);
    holder->query("ROLLBACK");
    EXPECT_EQ(db.scalar("SELECT Ntel FROM branch_tab"), "a");
}

TEST(ServerKind, StatementTimeOutFollowsTheVersionTheServerReports)
{
    using K = data::StatementTimeoutKind;
    const std::pair<const char*, K> cases[] = {
        {"10.11.19-MariaDB-0+deb12u1", K::MariaDb}, {"5.5.5-10.6.12-MariaDB-log", K::MariaDb},
        {"MariaDB 10.11.000019", K::MariaDb},       {"11.4.2-MariaDB", K::MariaDb},
        {"10.1.0-MariaDB", K::None},                {"5.5.68-MariaDB", K::None},
        {"8.0.36-0ubuntu0.22.04.1", K::MySql},      {"MySQL 08.00.0036", K::MySql},
        {"5.7.8-rc-log", K::MySql},                 {"9.1.0", K::MySql},
        {"5.7.7-rc", K::None},                      {"5.6.51-log", K::None},
        {"MySQL 05.06.0051", K::None},              {"15.4 PostgreSQL", K::None},
        {"", K::None},                              {"unknown", K::None},
    };
    for (const auto& [text, kind] : cases)
        EXPECT_EQ(data::statementTimeoutKind(QString::fromLatin1(text)), kind) << text;

    // MariaDB counts seconds and ends every statement; MySQL counts milliseconds.
    EXPECT_TRUE(data::sessionSetupStatement(K::MariaDb, 15).endsWith(", max_statement_time = 15"));
    EXPECT_TRUE(data::sessionSetupStatement(K::MySql, 10).endsWith(", max_execution_time = 10000"));
    EXPECT_FALSE(data::sessionSetupStatement(K::None, 10).contains(u"max_"));
}

}  // namespace
