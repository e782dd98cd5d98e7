#pragma once
#include "data/database.h"

#include <QString>
#include <QTemporaryDir>
#include <sys/types.h>

namespace tarvelo::test {

// A MariaDB server of the caller's own, in a temporary directory on a free loopback port, for
// tests that stop, freeze or kill it and for benchmarks that need one. It dies with the process
// that started it. Throws std::runtime_error, with the server's own reason, when it cannot start.
class PrivateMariaDb {
public:
    // `sqlMode`: the server's global sql_mode; empty keeps MariaDB's default.
    explicit PrivateMariaDb(const QString& sqlMode = QString());
    ~PrivateMariaDb();
    PrivateMariaDb(const PrivateMariaDb&) = delete;
    PrivateMariaDb& operator=(const PrivateMariaDb&) = delete;

    // Host, port, user and password of an account that may do everything, and `database`.
    data::DbSettings settings(const QString& database) const;
    const QString& directory() const { return dirPath_; }
    // Runs statements as root through the command-line client over the server's socket.
    void rootSql(const QString& sql) const;

    void kill();     // gone, as after a crash: connections reset, the port refuses
    void restart();  // killed and started again on the same port and data
    void freeze();  // hung: the kernel still accepts connections, nothing answers
    void thaw();

private:
    void start();
    QTemporaryDir dir_;
    QString sqlMode_;
    QString dirPath_;
    QString socket_;
    int port_ = 0;
    pid_t pid_ = -1;
};

// The MariaDB Connector/ODBC library as installed on this machine.
QString odbcDriverLibrary();

// Writes DIR/odbcinst.ini registering the driver under the name the connection string uses, with
// the driver manager's pooling off. Read once: point ODBCSYSINI at DIR before the first ODBC handle.
void writeOdbcInst(const QString& dir);

}  // namespace tarvelo::test
