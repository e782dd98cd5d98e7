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
//
// Whether this copy holds the lock, must let go of it or may take it is decided here alone, from
// the buttons' last word, what the program runs and the server's answers. A stopped copy takes
// nothing; it lets go at once, or, while a start-up's books or a cycle tick write under the lock,
// when they have ended. A copy that does not go on synchronising (a start-up that failed and
// waits to retry, a tick after which no cycle follows) lets go too. A start pressed while a tick
// runs, or while a start-up that was stopped still runs, waits for its end.
class BranchLock {
public:
    enum class Take { Held, Busy, Failed, Stopped };
    // What the program runs: nothing, a start-up (its checks, then its books from the moment it
    // holds the lock), or a cycle tick.
    enum class Phase { Idle, StartUp, Books, Tick };

    // At the start of a cycle and of synchronisation: keeps or takes the lock on the local
    // session, and from the first call on guards the writes of `db` and `web`. Takes nothing
    // once stopped.
    Take take(data::Database& db, data::WebService& web);
    // take() for the start-up's books (statistics row, notice, database number): true when held.
    // When another copy holds the lock, or the take fails, they are owed to the first cycle that
    // holds it.
    bool takeForBooks(data::Database& db, data::WebService& web);
    bool booksOwed() const { return booksOwed_; }

    // The stop button, or whatever stops synchronisation.
    void stop(data::Database& db);
    // The start button, or the retry: true when the start-up is to run now; otherwise it runs
    // once the tick or the start-up under way has ended (startDue()), unless that start-up is the
    // one asked for.
    bool start();
    bool startDue() const { return startDue_ && phase_ == Phase::Idle; }

    // Around a start-up and a cycle tick. settle() lets go unless this copy goes on synchronising
    // (`goesOn`: its next cycle is due) or a start waits; leave() settles and ends the phase.
    void enter(Phase phase);
    void settle(data::Database& db, bool goesOn);
    void leave(data::Database& db, bool goesOn);
    Phase phase() const { return phase_; }
    bool startingUp() const { return phase_ == Phase::StartUp || phase_ == Phase::Books; }

    // Lets go of the lock now, through the session that holds it, whatever the side's connection
    // is doing meanwhile; a session that cannot be told so is ended, so the server lets go.
    void release(data::Database& db);
    // This copy holds the lock, as far as known without a statement.
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
    bool onHeldSession(const data::Database& db) const;

    QString name_, holder_;
    bool on_ = true;  // the buttons' last word: start
    Phase phase_ = Phase::Idle;
    bool startDue_ = false;
    bool booksOwed_ = false;
    bool held_ = false;
    bool interrupted_ = false;
    bool busy_ = false;
    quint64 session_ = 0;  // the local session the lock was taken on
    data::Database* hooked_ = nullptr;
};

// A named lock's name for a database: at most 64 characters, as MySQL 5.7 and later require.
QString branchLockName(const QString& database);

}  // namespace tarvelo::sync
