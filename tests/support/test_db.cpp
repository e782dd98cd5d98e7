#include "support/test_db.h"

#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <cstdlib>
#include <stdexcept>

namespace tarvelo::test {

namespace {

QString env(const char* name)
{
    const char* v = std::getenv(name);
    if (!v || !*v)
        throw std::runtime_error(std::string("the test database is not set up: ") + name
                                 + " is missing (run the tests through scripts/test.sh)");
    return QString::fromUtf8(v);
}

std::shared_ptr<data::OdbcConnection> adminConnection()
{
    return data::OdbcConnection::open(data::connectionString(TestServer::get().settings(QString())), 30);
}

const QStringList& schemaStatements()
{
    static const QStringList statements = [] {
        QFile f(QStringLiteral(TARVELO_SCHEMA_SQL));
        if (!f.open(QIODevice::ReadOnly))
            throw std::runtime_error("cannot read the schema fixture " TARVELO_SCHEMA_SQL);
        QString text = QString::fromUtf8(f.readAll());
        // Drop comment lines; statements end with ";" at a line end.
        QStringList lines;
        for (const QString& line : text.split(u'\n'))
            if (!line.trimmed().startsWith("--"))
                lines << line;
        QStringList out;
        for (const QString& s : lines.join(u'\n').split(QRegularExpression(QStringLiteral(";\\s*\\n|;\\s*$"))))
            if (!s.trimmed().isEmpty())
                out << s.trimmed();
        return out;
    }();
    return statements;
}

}  // namespace

const TestServer& TestServer::get()
{
    static const TestServer server{env("TARVELO_TEST_DB_HOST"), env("TARVELO_TEST_DB_PORT"),
                                   env("TARVELO_TEST_DB_USER"), env("TARVELO_TEST_DB_PASSWORD")};
    return server;
}

data::DbSettings TestServer::settings(const QString& database) const
{
    return {host, port, database, user, password};
}

void pointAt(data::Database& db, data::RunState& run, const data::DbSettings& local, const data::DbSettings* server)
{
    db.DB_Server_Loc = local.host;
    db.DB_Port_Loc = local.port;
    db.DB_Port_Ser = local.port;
    db.DB_Name_Loc = local.name;
    db.DB_User_Loc = local.user;
    db.DB_Pas_Loc = local.password;
    if (server) {
        run.config.DB_Server_Ser = server->host;
        run.config.DB_Name_Ser = server->name;
        run.config.DB_User_Ser = server->user;
        run.config.DB_Pas_Ser = server->password;
        db.DB_Port_Ser = server->port;
    }
}

ScratchDatabase::ScratchDatabase(const QString& role, bool withSchema)
{
    name_ = QStringLiteral("tv_%1_%2").arg(QRandomGenerator::global()->generate64(), 16, 16, QChar(u'0')).arg(role);
    auto admin = adminConnection();
    admin->query("CREATE DATABASE `" + name_ + "` CHARACTER SET utf8mb4 COLLATE utf8mb4_general_ci");
    if (withSchema) {
        auto conn = connect();
        for (const QString& s : schemaStatements())
            conn->query(s);
    }
}

ScratchDatabase::~ScratchDatabase()
{
    try {
        adminConnection()->query("DROP DATABASE IF EXISTS `" + name_ + "`");
    } catch (...) {
    }
}

std::shared_ptr<data::OdbcConnection> ScratchDatabase::connect() const
{
    return data::OdbcConnection::open(data::connectionString(settings()), 30);
}

void ScratchDatabase::exec(const QString& sql) const
{
    connect()->query(sql);
}

data::ResultData ScratchDatabase::query(const QString& sql) const
{
    return connect()->query(sql);
}

QString ScratchDatabase::scalar(const QString& sql) const
{
    data::ResultData r = query(sql);
    if (r.rows.empty() || r.rows[0].empty() || r.rows[0][0].isNull())
        return {};
    return r.rows[0][0].toString();
}

}  // namespace tarvelo::test
