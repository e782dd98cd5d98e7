#pragma once
#include <QDateTime>
#include <QHash>
#include <QString>

#include <functional>

namespace tarvelo::data {

// The per-user state folder, $XDG_STATE_HOME/Tarvelo (default ~/.local/state/Tarvelo), made on demand.
QString stateFolder();

// Takes the values of the web service's credentials (user, pasw, datb) and of connection-string
// passwords out of a text before it is logged.
QString redactCredentials(QString text);

// The reason log: one line per failure naming the step, the reason the lower layer gave and what to
// check, written to standard error and to "tarvelo.log" in the state folder. A branch offline for a
// month must not write a line a minute: a failure repeating unchanged is written once, then at most
// once an hour with how often it came. The file is bounded: past maxBytes it becomes "tarvelo.log.1"
// (one old file kept). Writing never fails the caller.
class ReasonLog {
public:
    explicit ReasonLog(QString folder, qint64 maxBytes = 1 << 20);

    void write(const QString& step, const QString& reason, const QString& check);

    QString path() const;
    void setEcho(bool toStderr) { echo_ = toStderr; }
    std::function<QDateTime()> now = [] { return QDateTime::currentDateTime(); };

private:
    struct Seen {
        QDateTime lastWritten;
        qint64 unwritten = 0;
    };
    void append(const QString& line);

    QString folder_;
    qint64 maxBytes_;
    bool echo_ = true;
    QHash<QString, Seen> seen_;
};

}  // namespace tarvelo::data
