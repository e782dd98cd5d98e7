#pragma once
#include <QString>

namespace tarvelo::data {
class Database;
class OdbcConnection;
class WebService;
}  // namespace tarvelo::data

namespace tarvelo::sync {

// One synchronising copy per branch database, wherever the copies run: a cycle runs only while
// its local session holds a named lock on the database. The server drops the lock with the
// session, so a killed copy leaves nothing behind; a session opened again (the server closed the
// old one) has lost it, so every new local session takes it again before its first statement.
//
// Once taken, the lock guards the database calls and the ledger requests: nothing is written to
// the branch database but by the session that holds it, and nothing to the server database or
// the server's ledger unless a ping shows that session still there and it was not lost during
// the cycle. A session the server ended mid-row is so noticed before the row's next write there.
class BranchLock {
public:
    enum class Take { Held, Busy, Failed };
    // At the start of a cycle and of synchronisation: keeps or takes the lock on the local
    // session, and from the first call on guards the writes of `db` and `web`.
    Take take(data::Database& db, data::WebService& web);
    // Lets go of the lock (synchronisation stopped), so that another copy may take over.
    void release(data::Database& db);
    // The last take() got the lock and no session change lost it since (as far as known
    // without a statement).
    bool held() const { return held_; }
    // The local session was replaced while the lock was held: another copy may have run in the
    // gap, so the cycle must end.
    bool interrupted() const { return interrupted_; }
    // Another copy holds the lock: found by the last take() or by a session opened since.
    bool busy() const { return busy_; }
    // The other copy's local database connection id on the server, when busy.
    const QString& holder() const { return holder_; }
    const QString& name() const { return name_; }

private:
    Take acquire(data::OdbcConnection& c);
    void newSession(data::OdbcConnection& c);
    bool mayWrite(data::Database& db, bool remote) const;

    QString name_, holder_;
    bool held_ = false;
    bool interrupted_ = false;
    bool busy_ = false;
    quint64 session_ = 0;  // the local session the lock was taken on
    data::Database* hooked_ = nullptr;
};

// A named lock's name for a database: at most 64 characters, as MySQL 5.7 and later require.
QString branchLockName(const QString& database);

}  // namespace tarvelo::sync
