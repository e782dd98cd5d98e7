#pragma once
#include <QDateTime>
#include <QString>

#include "data/reason_log.h"

namespace tarvelo::data {

// The error log file "Save_Code.txt" and, beside it, the reason log that says in words what failed
// and which setting to check. Writing to either never fails the caller.
class ErrorLog {
public:
    explicit ErrorLog(QString folder) : folder_(folder), reasons(std::move(folder)) {}

    QString path() const;
    void Save_Code(const QString& line) const;

    // A failure handler's line, "Error <code>(<Err_Step>)"; Err_Step goes back to 0 afterwards.
    void failure(const QString& code);

    // One reason line: the step that failed, the reason as the lower layer gave it, the setting to check.
    void reason(const QString& step, const QString& why, const QString& check) { reasons.write(step, why, check); }

    qint16 Err_Step = 0;

private:
    QString folder_;

public:
    ReasonLog reasons;
};

QString errorLine(const QString& code, qint16 step);
QString startLine(const QDateTime& now);
QString kinProLine(int kind);

}  // namespace tarvelo::data
