// The echo over Linux sockets: an unprivileged datagram ICMP socket where the system allows
// it (net.ipv4.ping_group_range), else a raw ICMP socket.
#include "data/reachability.h"
#include "data/reachability_posix.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <linux/errqueue.h>
#include <netinet/in.h>
#include <poll.h>
#include <random>
#include <sys/socket.h>
#include <unistd.h>

namespace tarvelo::data {

using icmp::Echo;
using icmp::Outcome;
using icmp::Verdict;

namespace {

constexpr quint8 EchoReplyType = 0;
constexpr quint8 DestUnreachableType = 3;
constexpr quint8 SourceQuenchType = 4;
constexpr quint8 EchoRequestType = 8;
constexpr quint8 TimeExceededType = 11;
constexpr quint8 ParameterProblemType = 12;
constexpr int HeaderSize = 8;

// Raw-socket receive filter (SOL_RAW / ICMP_FILTER): bit n set drops ICMP type n.
constexpr int IcmpFilterOption = 1;

using Clock = std::chrono::steady_clock;

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

quint16 checksum(const quint8* data, size_t len)
{
    quint32 sum = 0;
    for (size_t i = 0; i + 1 < len; i += 2)
        sum += quint32(data[i]) << 8 | data[i + 1];
    if (len & 1)
        sum += quint32(data[len - 1]) << 8;
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return quint16(~sum);
}

quint16 read16(const quint8* p) { return quint16(p[0] << 8 | p[1]); }

quint32 read32Raw(const quint8* p)
{
    quint32 v;
    std::memcpy(&v, p, 4);
    return v;  // kept in network byte order, as addresses are compared
}

// A send that the system refuses at once, as the status an echo would have reported.
qint32 errnoStatus(int err)
{
    switch (err) {
    case ENETUNREACH:
    case ENETDOWN:
        return ip_status::DestNetUnreachable;
    case EHOSTUNREACH:
    case EHOSTDOWN:
    case EACCES:
    case EPERM:
        return ip_status::DestHostUnreachable;
    case ECONNREFUSED:
        return ip_status::DestPortUnreachable;
    case EMSGSIZE:
        return ip_status::PacketTooBig;
    case ENOBUFS:
    case ENOMEM:
    case EAGAIN:
        return ip_status::NoResources;
    case EINVAL:
    case EADDRNOTAVAIL:
    case EDESTADDRREQ:
    case EAFNOSUPPORT:
        return ip_status::BadDestination;
    default:
        return ip_status::GeneralFailure;
    }
}

bool isErrorType(quint8 type)
{
    return type == DestUnreachableType || type == SourceQuenchType || type == TimeExceededType
           || type == ParameterProblemType;
}

// One ICMP message (header first). `matchId` is false for datagram sockets, whose identifier
// the kernel chooses and whose replies it already sorts by it.
Outcome judge(const quint8* icmp, size_t len, quint32 from, const Echo& echo, bool matchId)
{
    Outcome out;
    if (len < HeaderSize)
        return out;
    const quint8 type = icmp[0];
    if (type == EchoReplyType) {
        if (from != echo.target || read16(icmp + 6) != echo.seq || (matchId && read16(icmp + 4) != echo.id))
            return out;
        out.verdict = Verdict::Answered;
        out.from = from;
        out.dataSize = int(len - HeaderSize);
        out.data = QString::fromLatin1(reinterpret_cast<const char*>(icmp + HeaderSize),
                                       qMin<qsizetype>(out.dataSize, EchoReply::DataCapacity));
        return out;
    }
    if (!isErrorType(type))
        return out;
    // An error message quotes the IP header and the first 8 bytes of the packet it is about.
    const quint8* inner = icmp + HeaderSize;
    const size_t innerLen = len - HeaderSize;
    if (innerLen < 20 || (inner[0] >> 4) != 4)
        return out;
    const size_t innerIhl = size_t(inner[0] & 0x0F) * 4;
    if (innerIhl < 20 || innerLen < innerIhl + HeaderSize || inner[9] != IPPROTO_ICMP)
        return out;
    const quint8* quoted = inner + innerIhl;
    if (read32Raw(inner + 16) != echo.target || quoted[0] != EchoRequestType || read16(quoted + 6) != echo.seq
        || (matchId && read16(quoted + 4) != echo.id))
        return out;
    out.verdict = Verdict::Failed;
    out.status = icmpErrorStatus(type, icmp[1]);
    out.from = from;
    return out;
}

// Raw sockets deliver the IP header too, and every ICMP message of the host, our own outgoing
// echo on lo included.
Outcome judgeRaw(const quint8* buf, size_t len, const Echo& echo)
{
    if (len < 20 || (buf[0] >> 4) != 4)
        return {};
    const size_t ihl = size_t(buf[0] & 0x0F) * 4;
    if (ihl < 20 || len < ihl)
        return {};
    return judge(buf + ihl, len - ihl, read32Raw(buf + 12), echo, true);
}

// Errors that the kernel reports about sent packets wait on the socket's error queue. A raw
// socket is told about every ICMP packet of the host that met an error, so there the quoted
// echo must be ours by target, identifier and sequence number.
Outcome readErrorQueue(int fd, const Echo& echo, bool raw)
{
    Outcome out;
    for (;;) {
        quint8 data[576];
        char control[512];
        sockaddr_in from{};
        iovec iov{data, sizeof data};
        msghdr msg{};
        msg.msg_name = &from;
        msg.msg_namelen = sizeof from;
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        const ssize_t n = ::recvmsg(fd, &msg, MSG_ERRQUEUE | MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return out;
        }
        // The queued packet is the echo as sent; another one is a stale or foreign error.
        if (n >= HeaderSize && data[0] == EchoRequestType && read16(data + 6) != echo.seq)
            continue;
        if (raw && (n < HeaderSize || data[0] != EchoRequestType || read16(data + 4) != echo.id
                    || from.sin_addr.s_addr != echo.target))
            continue;
        for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
            if (c->cmsg_level != SOL_IP || c->cmsg_type != IP_RECVERR)
                continue;
            sock_extended_err ee;
            std::memcpy(&ee, CMSG_DATA(c), sizeof ee);
            if (ee.ee_origin == SO_EE_ORIGIN_ICMP)
                out.status = icmpErrorStatus(ee.ee_type, ee.ee_code);
            else if (ee.ee_origin == SO_EE_ORIGIN_LOCAL)
                out.status = errnoStatus(int(ee.ee_errno));
            else
                continue;
            sockaddr_in offender;
            std::memcpy(&offender, SO_EE_OFFENDER(reinterpret_cast<sock_extended_err*>(CMSG_DATA(c))), sizeof offender);
            out.from = offender.sin_family == AF_INET ? offender.sin_addr.s_addr : 0;
            out.verdict = Verdict::Failed;
            return out;
        }
    }
}

quint16 randomId()
{
    std::random_device rd;
    return quint16(rd());
}

}  // namespace

namespace icmp {

qint32 sendEcho(int fd, const Echo& echo)
{
    const char* data = Reachability::RequestData;
    const size_t dataLen = std::strlen(data);
    quint8 packet[HeaderSize + 16] = {};
    packet[0] = EchoRequestType;
    packet[4] = quint8(echo.id >> 8);
    packet[5] = quint8(echo.id);
    packet[6] = quint8(echo.seq >> 8);
    packet[7] = quint8(echo.seq);
    std::memcpy(packet + HeaderSize, data, dataLen);
    const size_t packetLen = HeaderSize + dataLen;
    const quint16 sum = checksum(packet, packetLen);
    packet[2] = quint8(sum >> 8);
    packet[3] = quint8(sum);

    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = echo.target;
    ssize_t sent;
    do
        sent = ::sendto(fd, packet, packetLen, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    while (sent < 0 && errno == EINTR);
    return sent < 0 ? errnoStatus(errno) : ip_status::Success;
}

Outcome awaitEcho(int fd, bool raw, const Echo& echo, std::chrono::steady_clock::time_point deadline)
{
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return {};
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, int(left));
        if (ready < 0 && errno != EINTR)
            return {};
        if (ready <= 0)
            continue;
        if (p.revents & POLLERR) {
            // An error stays reported by poll until it is read: read the queue, then the socket's
            // pending error, so the next poll waits again.
            const Outcome queued = readErrorQueue(fd, echo, raw);
            if (queued.verdict != Verdict::Unrelated)
                return queued;
            int err = 0;
            socklen_t errLen = sizeof err;
            ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &errLen);
            // A datagram ICMP socket carries only our echo, so its error is about it; a raw
            // socket's may be about anyone's.
            if (err != 0 && !raw) {
                Outcome failed;
                failed.verdict = Verdict::Failed;
                failed.status = errnoStatus(err);
                return failed;
            }
        }
        if (p.revents & POLLIN) {
            quint8 buf[2048];
            sockaddr_in from{};
            socklen_t fromLen = sizeof from;
            const ssize_t n =
                ::recvfrom(fd, buf, sizeof buf, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &fromLen);
            if (n >= 0) {
                const Outcome got = raw ? judgeRaw(buf, size_t(n), echo)
                                        : judge(buf, size_t(n), from.sin_addr.s_addr, echo, false);
                if (got.verdict != Verdict::Unrelated)
                    return got;
            }
        } else if (!(p.revents & POLLERR)) {
            return {};  // hung up or invalid: nothing more will arrive
        }
    }
}

}  // namespace icmp

qint32 icmpErrorStatus(int type, int code)
{
    switch (type) {
    case DestUnreachableType:
        switch (code) {
        case 0:   // network
        case 6:   // network unknown
        case 9:   // network administratively prohibited
        case 11:  // network, for this type of service
            return ip_status::DestNetUnreachable;
        case 2:
            return ip_status::DestProtUnreachable;
        case 3:
            return ip_status::DestPortUnreachable;
        case 4:  // fragmentation needed and DF set
            return ip_status::PacketTooBig;
        case 5:  // source route failed
            return ip_status::BadRoute;
        default:  // host, host unknown, isolated, prohibited, precedence
            return ip_status::DestHostUnreachable;
        }
    case TimeExceededType:
        return code == 1 ? ip_status::TtlExpiredReassembly : ip_status::TtlExpiredTransit;
    case ParameterProblemType:
        return ip_status::ParamProblem;
    case SourceQuenchType:
        return ip_status::SourceQuench;
    default:
        return ip_status::GeneralFailure;
    }
}

bool usableAddress(const QString& text, quint32& networkOrder)
{
    // A NUL would end the text early for inet_addr and let trailing garbage pass.
    if (text.contains(QChar(0)))
        return false;
    const QByteArray bytes = text.toLatin1();  // letters beyond Latin-1 become '?', never an address
    const in_addr_t a = ::inet_addr(bytes.constData());
    if (a == INADDR_NONE || a == INADDR_ANY)
        return false;
    networkOrder = a;
    return true;
}

QString Ping_Status_Text(qint32 status)
{
    switch (status) {
    case 0: return QStringLiteral("OK");
    case 11001: return QStringLiteral("Buffer Too Small");
    case 11002: return QStringLiteral("Destination Net Unreachable");
    case 11003: return QStringLiteral("Destination Host Unreachable");
    case 11004: return QStringLiteral("Destination Protocol Unreachable");
    case 11005: return QStringLiteral("Destination Port Unreachable");
    case 11006: return QStringLiteral("No Resources");
    case 11007: return QStringLiteral("Bad Option");
    case 11008: return QStringLiteral("Hardware Error");
    case 11009: return QStringLiteral("Packet Too Big");
    case 11010: return QStringLiteral("Request Timed Out");
    case 11011: return QStringLiteral("Bad Request");
    case 11012: return QStringLiteral("Bad Route");
    case 11013: return QStringLiteral("TimeToLive Expired Transit");
    case 11014: return QStringLiteral("TimeToLive Expired Reassembly");
    case 11015: return QStringLiteral("Parameter Problem");
    case 11016: return QStringLiteral("Source Quench");
    case 11017: return QStringLiteral("Option Too Big");
    case 11018: return QStringLiteral("Bad Destination");
    case 11032: return QStringLiteral("Negotiating IPSEC");
    case 11050: return QStringLiteral("General Failure");
    default: return QStringLiteral("Unknown Response");
    }
}

bool Reachability::Sock_Start()
{
    ++startCount_;
    return true;
}

void Reachability::Sock_Clean()
{
    if (startCount_ > 0)
        --startCount_;
}

qint32 Reachability::Ping_Ip(const QString& address, EchoReply& reply)
{
    Echo echo;
    lackedSocket_ = false;
    lastFailure_.clear();
    if (!usableAddress(address, echo.target)) {
        lastFailure_ = QStringLiteral("not a usable IPv4 address");
        return -1;
    }

    SocketKind kind = SocketKind::Datagram;
    int raw = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (raw < 0) {
        const int datagramErr = errno;
        kind = SocketKind::Raw;
        raw = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
        if (raw < 0) {
            lackedSocket_ = true;
            lastFailure_ = QStringLiteral("no ICMP socket: datagram socket: %1; raw socket: %2")
                               .arg(QString::fromLocal8Bit(std::strerror(datagramErr)),
                                    QString::fromLocal8Bit(std::strerror(errno)));
            return -1;
        }
    }
    const Fd fd(raw);
    lastKind_ = kind;

    // Errors about the echo are reported on the error queue of either kind of socket.
    const int on = 1;
    ::setsockopt(fd.get(), SOL_IP, IP_RECVERR, &on, sizeof on);
    if (kind == SocketKind::Raw) {
        const quint32 dropped = ~((1u << EchoReplyType) | (1u << DestUnreachableType) | (1u << SourceQuenchType)
                                  | (1u << TimeExceededType) | (1u << ParameterProblemType));
        ::setsockopt(fd.get(), SOL_RAW, IcmpFilterOption, &dropped, sizeof dropped);
    }

    echo.id = randomId();
    echo.seq = ++sequence_;
    reply = EchoReply{};

    const auto started = Clock::now();
    const qint32 refused = icmp::sendEcho(fd.get(), echo);
    if (refused != ip_status::Success) {
        reply.Status = quint32(refused);
        lastFailure_ = "the system refused the echo: " + Ping_Status_Text(refused);
        return refused;
    }
    const Outcome outcome = icmp::awaitEcho(fd.get(), kind == SocketKind::Raw, echo,
                                            started + std::chrono::milliseconds(TimeoutMs));

    switch (outcome.verdict) {
    case Verdict::Answered:
        reply.Status = ip_status::Success;
        reply.Address = outcome.from;
        reply.RoundTripTime = quint32(
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count());
        reply.DataSize = quint16(outcome.dataSize);
        reply.Data = outcome.data;
        break;
    case Verdict::Failed:
        reply.Status = quint32(outcome.status);
        reply.Address = outcome.from;
        break;
    case Verdict::Unrelated:
        reply.Status = ip_status::ReqTimedOut;
        break;
    }
    if (reply.Status != ip_status::Success)
        lastFailure_ = Ping_Status_Text(qint32(reply.Status));
    return qint32(reply.Status);
}

bool Reachability::Ping_Host(const QString& address)
{
    try {
        if (!Sock_Start())
            return false;
        EchoReply reply;
        const qint32 status = Ping_Ip(address, reply);
        return Ping_Status_Text(status) == QLatin1String("OK");
    } catch (...) {
        return false;
    }
}

}  // namespace tarvelo::data
