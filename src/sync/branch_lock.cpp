#include "sync/branch_lock.h"

#include "data/database.h"
#include "data/sql_text.h"
#include "data/web_service.h"

#include <QCryptographicHash>

namespace tarvelo::sync {

QString branchLockName(const QString& database)
{
    // Named locks are per server, so the database's name alone tells branch databases apart.
    const QString prefix = QStringLiteral("tarvelo:");
    if (prefix.size() + database.size() <= 64)
        return prefix + database;
    return prefix + QString::fromLatin1(QCryptographicHash::hash(database.toUtf8(), QCryptographicHash::Sha1).toHex());
}

BranchLock::Take BranchLock::acquire(data::OdbcConnection& c)
{
    if (name_.isEmpty()) {
        const data::ResultData r = c.query(QStringLiteral("SELECT DATABASE()"));
        if (r.rows.empty() || !r.rows.front().at(0).isValid())
            throw data::DbError(QStringLiteral("the local session names no database"));
        name_ = branchLockName(r.rows.front().at(0).toString());
    }
    // Taken only when this session does not hold it yet: MySQL 5.7+ and MariaDB count nested
    // takes, and before 5.7 a session holds one lock at most (the program uses no other).
    const QString n = data::sqlLiteral(name_);
    const data::ResultData r =
        c.query("SELECT IF(IS_USED_LOCK(" + n + ") <=> CONNECTION_ID(), 1, GET_LOCK(" + n + ", 0)), IS_USED_LOCK(" + n + ")");
    const QVariant got = r.rows.empty() ? QVariant() : r.rows.front().at(0);
    if (!got.isValid())
        throw data::DbError("GET_LOCK(" + n + ") failed");
    holder_ = r.rows.front().at(1).toString();
    return got.toInt() == 1 ? Take::Held : Take::Busy;
}

void BranchLock::newSession(data::OdbcConnection& c)
{
    if (!held_)
        return;
    interrupted_ = true;
    held_ = false;
    if (!on_)
        return;  // stopped meanwhile: the new session takes nothing
    if (acquire(c) == Take::Busy) {
        busy_ = true;
        throw data::DbError("the lock " + name_ + " went to another copy (local database connection " + holder_
                            + ") when this session was opened again");
    }
    held_ = true;
    session_ = c.session();
}

bool BranchLock::onHeldSession(const data::Database& db) const
{
    const auto& c = db.localConnection();
    return held_ && c && c->isConnected() && c->session() == session_;
}

bool BranchLock::mayWrite(data::Database& db, bool remote) const
{
    if (db.freshConnectionPerCall)
        return true;  // measurements only: no session is held, so none holds the lock
    if (!held_ || db.localSession() != session_)
        return false;
    return !remote || (!interrupted_ && db.localSessionAnswers());
}

BranchLock::Take BranchLock::take(data::Database& db, data::WebService& web)
{
    if (hooked_ != &db) {
        db.onNewLocalSession = [this](data::OdbcConnection& c) { newSession(c); };
        db.beforeWrite = [this, &db](bool server) {
            if (!mayWrite(db, server))
                throw data::DbError("not written: this copy does not hold the lock " + name_
                                    + " on the branch database, or lost its session");
        };
        web.mayWrite = [this, &db] { return mayWrite(db, true); };
        hooked_ = &db;
    }
    busy_ = false;
    interrupted_ = false;
    if (!on_)
        return Take::Stopped;
    if (db.freshConnectionPerCall) {
        held_ = false;  // a session per call holds nothing between calls (measurements only)
        return Take::Held;
    }
    if (!db.Open_Conn_Loc()) {
        // A session that is still there keeps what it holds; the stop or the phase's end lets go.
        held_ = onHeldSession(db);
        return busy_ ? Take::Busy : Take::Failed;
    }
    if (!on_)
        return Take::Stopped;  // stopped while the connection opened
    try {
        const Take t = acquire(*db.Conn_Loc);
        held_ = t == Take::Held;
        busy_ = t == Take::Busy;
        session_ = db.Conn_Loc->session();
        if (held_ && phase_ == Phase::StartUp)
            phase_ = Phase::Books;
        return t;
    } catch (const std::exception& e) {
        db.lastError = QString::fromUtf8(e.what());
        // Whether the session holds the lock now is not known: it must not.
        held_ = !name_.isEmpty();
        session_ = db.Conn_Loc->session();
        release(db);
        return Take::Failed;
    }
}

bool BranchLock::takeForBooks(data::Database& db, data::WebService& web)
{
    const Take t = take(db, web);
    booksOwed_ = t == Take::Busy || t == Take::Failed;
    return t == Take::Held;
}

void BranchLock::stop(data::Database& db)
{
    on_ = false;
    startDue_ = false;
    booksOwed_ = false;  // the next start-up writes its own
    // The start-up's checks write nothing: only its books and a tick finish what they write.
    if (phase_ == Phase::Idle || phase_ == Phase::StartUp)
        release(db);
}

bool BranchLock::start()
{
    const bool wasOn = on_;
    on_ = true;
    switch (phase_) {
    case Phase::Idle:
        return true;
    case Phase::Tick:
        startDue_ = true;
        return false;
    case Phase::StartUp:
    case Phase::Books:
        // The start-up under way is the start asked for, unless it was stopped: it ends so.
        startDue_ = startDue_ || !wasOn;
        return false;
    }
    return false;
}

void BranchLock::enter(Phase phase)
{
    phase_ = phase;
    if (phase == Phase::StartUp)
        startDue_ = false;
}

void BranchLock::settle(data::Database& db, bool goesOn)
{
    if (!on_ || (!goesOn && !startDue_))
        release(db);
}

void BranchLock::leave(data::Database& db, bool goesOn)
{
    phase_ = Phase::Idle;
    settle(db, goesOn);
}

void BranchLock::release(data::Database& db)
{
    if (!held_)
        return;
    held_ = false;
    interrupted_ = true;  // nothing more is written, and a cycle under way ends at its next check
    // The handle, not Conn_Loc: a call opening the connection again has emptied that meanwhile.
    const std::shared_ptr<data::OdbcConnection> c = db.localConnection();
    if (!c || !c->isConnected() || c->session() != session_)
        return;  // that session has ended, and the lock with it
    try {
        c->query("SELECT RELEASE_LOCK(" + data::sqlLiteral(name_) + ")");
        return;
    } catch (const std::exception&) {
    }
    c->disconnect();
}

}  // namespace tarvelo::sync
