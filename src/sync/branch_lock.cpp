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
    if (acquire(c) == Take::Busy) {
        busy_ = true;
        throw data::DbError("the lock " + name_ + " went to another copy (local database connection " + holder_
                            + ") when this session was opened again");
    }
    held_ = true;
    session_ = c.session();
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
    if (db.freshConnectionPerCall) {
        held_ = false;  // a session per call holds nothing between calls (measurements only)
        return Take::Held;
    }
    if (!db.Open_Conn_Loc()) {
        held_ = false;
        return busy_ ? Take::Busy : Take::Failed;
    }
    try {
        const Take t = acquire(*db.Conn_Loc);
        held_ = t == Take::Held;
        busy_ = t == Take::Busy;
        session_ = db.Conn_Loc->session();
        interrupted_ = false;
        return t;
    } catch (const std::exception& e) {
        held_ = false;
        db.lastError = QString::fromUtf8(e.what());
        return Take::Failed;
    }
}

void BranchLock::release(data::Database& db)
{
    if (!held_)
        return;
    held_ = false;
    interrupted_ = true;  // nothing more is written, and a cycle under way ends at its next check
    if (!db.Conn_Loc || !db.Conn_Loc->isConnected())
        return;
    try {
        db.Conn_Loc->query("SELECT RELEASE_LOCK(" + data::sqlLiteral(name_) + ")");
    } catch (const std::exception&) {
        // The lock goes with the session at the latest.
    }
}

}  // namespace tarvelo::sync
