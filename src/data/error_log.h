#pragma once
#include <QDateTime>
#include <QString>

namespace tarvelo::data {

// The error log file "Save_Code.txt" in the program's folder: the only trace of a failure that
// outlives the process. Writing to it never fails the caller.
class ErrorLog {
public:
    explicit ErrorLog(QString programFolder) : folder_(std::move(programFolder)) {}

    QString path() const;
    void Save_Code(const QString& line) const;

    // A failure handler's line, "Error <code>(<Err_Step>)"; Err_Step goes back to 0 afterwards.
    void failure(const QString& code);

    qint16 Err_Step = 0;

private:
    QString folder_;
};

QString errorLine(const QString& code, qint16 step);
QString startLine(const QDateTime& now);
QString kinProLine(int kind);

}  // namespace tarvelo::data
