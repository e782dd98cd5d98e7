#pragma once
#include <QString>
#include <cstdint>

namespace tarvelo::data {

// The outcome of one echo. Callers pass it in zeroed; only Status is read by the program.
struct EchoReply {
    quint32 Address = 0;        // the answering host, network byte order
    quint32 Status = 0;         // 0 answered, otherwise an IP status code (11001 ...)
    quint32 RoundTripTime = 0;  // milliseconds
    quint16 DataSize = 0;
    quint16 Reserved = 0;
    QString Data;               // the echoed data, at most DataCapacity characters

    static constexpr int DataCapacity = 250;
};

// IP status codes of an echo.
namespace ip_status {
inline constexpr qint32 Success = 0;
inline constexpr qint32 BufTooSmall = 11001;
inline constexpr qint32 DestNetUnreachable = 11002;
inline constexpr qint32 DestHostUnreachable = 11003;
inline constexpr qint32 DestProtUnreachable = 11004;
inline constexpr qint32 DestPortUnreachable = 11005;
inline constexpr qint32 NoResources = 11006;
inline constexpr qint32 BadOption = 11007;
inline constexpr qint32 HwError = 11008;
inline constexpr qint32 PacketTooBig = 11009;
inline constexpr qint32 ReqTimedOut = 11010;
inline constexpr qint32 BadReq = 11011;
inline constexpr qint32 BadRoute = 11012;
inline constexpr qint32 TtlExpiredTransit = 11013;
inline constexpr qint32 TtlExpiredReassembly = 11014;
inline constexpr qint32 ParamProblem = 11015;
inline constexpr qint32 SourceQuench = 11016;
inline constexpr qint32 OptionTooBig = 11017;
inline constexpr qint32 BadDestination = 11018;
inline constexpr qint32 NegotiatingIpsec = 11032;
inline constexpr qint32 GeneralFailure = 11050;
}  // namespace ip_status

// The status an ICMP error message (type, code) stands for.
qint32 icmpErrorStatus(int type, int code);

// The one-echo reachability check of the server and of the fingerprint devices. One object
// per program, owned by its context; the socket layer's start count lives here.
// The lower procedures are virtual so that callers' tests can stand in for the network.
class Reachability {
public:
    enum class SocketKind { None, Datagram, Raw };

    static constexpr int TimeoutMs = 5000;
    static constexpr const char* RequestData = "hello";

    virtual ~Reachability() = default;

    virtual bool Sock_Start();
    virtual void Sock_Clean();
    // One echo; the reply's status, or -1 when no echo could be sent (unusable address, no socket).
    virtual qint32 Ping_Ip(const QString& address, EchoReply& reply);
    // True exactly when the address answered one echo.
    bool Ping_Host(const QString& address);

    int startCount() const { return startCount_; }
    // Which kind of socket the last echo went through; for diagnosis.
    SocketKind lastSocketKind() const { return lastKind_; }
    // Why the last echo could not be sent or was not answered, in words; empty after an answer.
    const QString& lastFailure() const { return lastFailure_; }
    // The last echo failed because the system gave no ICMP socket: nothing was sent at all.
    bool lastLackedSocket() const { return lackedSocket_; }

protected:
    QString lastFailure_;
    bool lackedSocket_ = false;

private:
    int startCount_ = 0;
    SocketKind lastKind_ = SocketKind::None;
    quint16 sequence_ = 0;
};

QString Ping_Status_Text(qint32 status);

// Reads the text as inet_addr reads dotted IPv4 (network byte order). False when the text is
// no usable destination: not an address, 0.0.0.0 or 255.255.255.255.
bool usableAddress(const QString& text, quint32& networkOrder);

}  // namespace tarvelo::data
