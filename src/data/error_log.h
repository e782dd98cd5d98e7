#pragma once
#include <QDateTime>
#include <QString>

#include "data/reason_log.h"

namespace tarvelo::data {

// The error log file "Save_Code.txt" and, beside it, the reason log that says in words what failed
// and which setting to check. Both are bounded alike: past maxBytes a file becomes "<name>.1", one
// old file kept. Writing to either never fails the caller.
class ErrorLog {
public:
    explicit ErrorLog(QString folder, qint64 maxBytes = 1 << 20)
        : folder_(folder), maxBytes_(maxBytes), reasons(std::move(folder), maxBytes)
    {
    }

    QString path() const;
    void Save_Code(const QString& line) const;

    // A failure handler's line, "Error <code>(<Err_Step>)"; Err_Step goes back to 0 afterwards.
    void failure(const QString& code);

    // One reason line: the step that failed, the reason as the lower layer gave it, the setting to check.
    void reason(const QString& step, const QString& why, const QString& check) { reasons.write(step, why, check); }
    // The step worked: ends an outage the reason log holds.
    void works(const QString& step) { reasons.works(step); }

    // A punch the attendance table refused, whole, one tab-separated line in "refused_punches.txt",
    // a file that is never rotated: once the device is cleared it is the punch's only copy.
    void keepRefusedPunch(const QDateTime& when, const QString& deviceRow, const QString& address,
                          const QString& enroll, const QString& punchTime, const QString& reason) const;
    QString refusedPunchesPath() const;

    qint16 Err_Step = 0;

private:
    QString folder_;
    qint64 maxBytes_;

public:
    ReasonLog reasons;
};

QString errorLine(const QString& code, qint16 step);
QString startLine(const QDateTime& now);
QString kinProLine(int kind);

}  // namespace tarvelo::data
