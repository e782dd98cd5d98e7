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
// once an hour with how often it came. A failure of a step that worked again since is a new outage and
// is written at once; the first success after a written failure says so in one line. The file is
// bounded: past maxBytes it becomes "tarvelo.log.1" (one old file kept). Writing never fails the caller.
class ReasonLog {
public:
    // An open outage of one step: when it began, its reason then, and the numbers (counted over
    // every failure written) of its first and latest failure.
    struct Outage {
        QDateTime since;
        QString reason;
        quint64 first = 0, latest = 0;
    };

    explicit ReasonLog(QString folder, qint64 maxBytes = 1 << 20);

    void write(const QString& step, const QString& reason, const QString& check);
    // The step succeeded: ends its outage, if one was written, with a line saying so.
    void works(const QString& step);
    // Whether any step's outage is open; lets hot paths skip building step names.
    bool anyFailing() const { return !failing_.isEmpty(); }
    const QHash<QString, Outage>& outages() const { return failing_; }
    // Failures written so far, repeats included: an outage whose latest failure is above a count
    // taken earlier failed again since.
    quint64 failures() const { return failures_; }
    // Told when a step's outage begins (its first failure) and when it ends, after the records changed.
    std::function<void(const QString& step, const Outage& outage, bool began)> onOutage;

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
    QHash<QString, Outage> failing_;  // by step
    quint64 failures_ = 0;
};

// Appends bytes to a file that past maxBytes becomes "<path>.1", the one old file kept.
// False when the file cannot be written.
bool appendBounded(const QString& path, const QByteArray& bytes, qint64 maxBytes);

}  // namespace tarvelo::data
