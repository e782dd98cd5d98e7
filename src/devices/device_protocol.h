#pragma once
// The request/response exchange between the device layer and a fingerprint device over TCP.
// Shared, as the one definition, by the device layer and the device simulator.
//
// Every message is a frame: a 4-byte big-endian length of the body, then the body.
//   request body: operation (1 byte), argument (int32); a ClearRead request then carries the last
//                 record the pull read, as a record follows in a NextRecord reply
//   reply body:   status (1 byte), result (1 byte, 0 or 1), then
//                 - status Failed: the reason, as a text field;
//                 - a NextRecord reply with result 1: the enroll number (text field) and ten int32
//                   (verify mode, in/out mode, year, month, day, hour, minute, second, work code, reserved).
//   int32: 4 bytes big-endian; text field: int32 length, then that many bytes of UTF-8.
#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <optional>

namespace tarvelo::devices::wire {

enum class Op : quint8 {
    Hello = 1,       // after the TCP connect: result 1 = the device takes this connection
    OpenLog = 2,     // result 1 = the attendance log can be read from its first record
    NextRecord = 3,  // result 1 = a record follows; 0 = the log is read to its end
    ClearLog = 4,    // result 1 = the log was cleared
    PostClear = 5,   // after a clear; result not looked at
    // Argument n and the last record read: the device drops its records up to that record, never more
    // than its first n, and keeps anything newer. Result 1 = cleared; 0 = that record is not among its
    // first n, and nothing was cleared.
    ClearRead = 6,
};

enum class Status : quint8 { Ok = 0, Failed = 1 };

inline constexpr quint32 MaxFrame = 64 * 1024;

struct PunchRecord {
    QString enrollNumber;
    qint32 verifyMode = 0;
    qint32 inOutMode = 0;
    qint32 year = 0;
    qint32 month = 0;
    qint32 day = 0;
    qint32 hour = 0;
    qint32 minute = 0;
    qint32 second = 0;
    qint32 workCode = 0;
    qint32 reserved = 0;
    bool operator==(const PunchRecord&) const = default;
};

struct Request {
    Op op = Op::Hello;
    qint32 argument = 0;
    PunchRecord last;  // ClearRead only
};

struct Reply {
    Status status = Status::Ok;
    bool result = false;
    QString reason;     // Failed only
    PunchRecord record;  // NextRecord with result true only
};

namespace detail {

inline void putInt(QByteArray& out, qint32 v)
{
    const quint32 u = quint32(v);
    out.append(char(u >> 24)).append(char(u >> 16)).append(char(u >> 8)).append(char(u));
}

inline void putText(QByteArray& out, const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    putInt(out, qint32(bytes.size()));
    out.append(bytes);
}

class Reader {
public:
    explicit Reader(const QByteArray& body) : b_(body) {}
    bool ok() const { return ok_; }
    bool atEnd() const { return pos_ == b_.size(); }
    quint8 byte()
    {
        if (pos_ + 1 > b_.size()) {
            ok_ = false;
            return 0;
        }
        return quint8(b_[pos_++]);
    }
    qint32 int32()
    {
        if (pos_ + 4 > b_.size()) {
            ok_ = false;
            return 0;
        }
        quint32 u = 0;
        for (int i = 0; i < 4; ++i)
            u = u << 8 | quint8(b_[pos_++]);
        return qint32(u);
    }
    QString text()
    {
        const qint32 n = int32();
        if (!ok_ || n < 0 || pos_ + n > b_.size()) {
            ok_ = false;
            return {};
        }
        const QString s = QString::fromUtf8(b_.constData() + pos_, n);
        pos_ += n;
        return s;
    }

private:
    const QByteArray& b_;
    qsizetype pos_ = 0;
    bool ok_ = true;
};

inline void putRecord(QByteArray& out, const PunchRecord& p)
{
    putText(out, p.enrollNumber);
    for (qint32 v : {p.verifyMode, p.inOutMode, p.year, p.month, p.day, p.hour, p.minute, p.second, p.workCode,
                     p.reserved})
        putInt(out, v);
}

inline PunchRecord readRecord(Reader& in)
{
    PunchRecord p;
    p.enrollNumber = in.text();
    for (qint32* v : {&p.verifyMode, &p.inOutMode, &p.year, &p.month, &p.day, &p.hour, &p.minute, &p.second,
                      &p.workCode, &p.reserved})
        *v = in.int32();
    return p;
}

inline QByteArray frame(const QByteArray& body)
{
    QByteArray out;
    putInt(out, qint32(body.size()));
    out.append(body);
    return out;
}

}  // namespace detail

// The length a frame header announces; nullopt for a length beyond MaxFrame.
inline std::optional<quint32> frameLength(const char header[4])
{
    quint32 n = 0;
    for (int i = 0; i < 4; ++i)
        n = n << 8 | quint8(header[i]);
    if (n > MaxFrame)
        return std::nullopt;
    return n;
}

inline QByteArray encodeRequest(const Request& r)
{
    QByteArray body;
    body.append(char(r.op));
    detail::putInt(body, r.argument);
    if (r.op == Op::ClearRead)
        detail::putRecord(body, r.last);
    return detail::frame(body);
}

inline std::optional<Request> decodeRequest(const QByteArray& body)
{
    detail::Reader in(body);
    Request r;
    const quint8 op = in.byte();
    r.argument = in.int32();
    if (!in.ok() || op < quint8(Op::Hello) || op > quint8(Op::ClearRead))
        return std::nullopt;
    r.op = Op(op);
    if (r.op == Op::ClearRead)
        r.last = detail::readRecord(in);
    if (!in.ok() || !in.atEnd())
        return std::nullopt;
    return r;
}

inline QByteArray encodeReply(Op op, const Reply& r)
{
    QByteArray body;
    body.append(char(r.status));
    body.append(char(r.result ? 1 : 0));
    if (r.status == Status::Failed) {
        detail::putText(body, r.reason);
    } else if (op == Op::NextRecord && r.result) {
        detail::putRecord(body, r.record);
    }
    return detail::frame(body);
}

inline std::optional<Reply> decodeReply(Op op, const QByteArray& body)
{
    detail::Reader in(body);
    Reply r;
    const quint8 status = in.byte();
    const quint8 result = in.byte();
    if (!in.ok() || status > quint8(Status::Failed) || result > 1)
        return std::nullopt;
    r.status = Status(status);
    r.result = result == 1;
    if (r.status == Status::Failed) {
        r.reason = in.text();
    } else if (op == Op::NextRecord && r.result) {
        r.record = detail::readRecord(in);
    }
    if (!in.ok() || !in.atEnd())
        return std::nullopt;
    return r;
}

}  // namespace tarvelo::devices::wire
