#pragma once
#include <QString>

namespace tarvelo::app {

class Program;

// The parts of the system whose failure stops records from moving, by the reason log's step
// names; in the order the status line names them when several failed (the most important last).
enum class FailedPart { None, Cycle, WebService, ServerDatabase, LocalDatabase, BranchLock, Count };

// The reason log's step for an error that ended a cycle where it arose.
inline const QString kCycleStep = QStringLiteral("synchronisation cycle");

FailedPart failedPart(const QString& step);

// Writes a message-log row when an outage of a part begins (its first failing step, with the reason
// the reason log keeps) and when it ends (the last of its failing steps works again).
void logOutagesInMessages(Program& p);

// The tick's last status, from the reason log's outages: idle when nothing failed since
// `failuresBefore` (its count when the tick began) and no database connection failure is
// unresolved; else the stopped picture naming what failed, the next try a minute later, and with
// an outage that began in this tick the retry row in the message log.
void showCycleEnd(Program& p, quint64 failuresBefore);

}  // namespace tarvelo::app
