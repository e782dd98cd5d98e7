#pragma once
#include <QString>

namespace tarvelo::data {
class Database;
class OdbcConnection;
}  // namespace tarvelo::data

namespace tarvelo::sync {

// One synchronising copy per branch database, wherever the copies run: a cycle runs only while
// its local session holds a named lock on the database. The server drops the lock with the
// session, so a killed copy leaves nothing behind; a session opened again (the server closed the
// old one) has lost it, so every new local session takes it again before its first statement.
class BranchLock {
public:
    enum class Take { Held, Busy, Failed };
    // At the start of a cycle: keeps or takes the lock on the local session.
    Take take(data::Database& db);
    // Lets go of the lock (synchronisation stopped), so that another copy may take over.
    void release(data::Database& db);
    // The local session was replaced while the lock was held: another copy may have run in the
    // gap, so the cycle must end.
    bool interrupted() const { return interrupted_; }
    // Another copy holds the lock: found by the last take() or by a session opened since.
    bool busy() const { return busy_; }
    // The other copy's connection id on the server, when busy.
    const QString& holder() const { return holder_; }
    const QString& name() const { return name_; }

private:
    Take acquire(data::OdbcConnection& c);
    void newSession(data::OdbcConnection& c);

    QString name_, holder_;
    bool held_ = false;
    bool interrupted_ = false;
    bool busy_ = false;
    data::Database* hooked_ = nullptr;
};

// A named lock's name for a database: at most 64 characters, as MySQL 5.7 and later require.
QString branchLockName(const QString& database);

}  // namespace tarvelo::sync
