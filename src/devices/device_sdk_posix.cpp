// The device layer over POSIX sockets.
#include "devices/device_sdk.h"

#include "data/reachability.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <algorithm>
#include <cstring>
#include <limits>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tarvelo::devices {

namespace {

using Clock = std::chrono::steady_clock;

int msLeft(Clock::time_point deadline)
{
    // A pull without a deadline waits on time_point::max(): clamped, never a negative (endless) poll.
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return int(std::clamp<long long>(left, 0, std::numeric_limits<int>::max()));
}

}  // namespace

void DeviceWait::check() const
{
    if (Clock::now() >= deadline)
        throw DeadlineError("the pull ran past its deadline");
}

bool TcpDeviceSdk::waitFor(short events, Clock::time_point deadline)
{
    for (;;) {
        int ms = msLeft(deadline);
        if (wait_) {
            ms = std::min(ms, msLeft(wait_->deadline));
            if (wait_->pump)
                ms = std::min(ms, int(DeviceWait::PumpEvery.count()));
        }
        pollfd p{fd_, events, 0};
        const int ready = ::poll(&p, 1, ms);
        if (ready > 0)
            return true;
        if (ready < 0 && errno != EINTR)
            throw SdkError(std::string("poll: ") + std::strerror(errno));
        if (wait_)
            wait_->check();
        if (Clock::now() >= deadline)
            return false;
        if (wait_ && wait_->pump)
            wait_->pump();
    }
}

bool isDottedIpv4(const QString& text)
{
    if (text.isEmpty() || text.size() > 15)
        return false;
    for (QChar c : text)
        if (!(c.isDigit() && c.unicode() < 128) && c != u'.')
            return false;
    in_addr a{};
    // inet_pton takes exactly four dotted decimal numbers, no blanks, no other forms.
    if (::inet_pton(AF_INET, text.toLatin1().constData(), &a) != 1)
        return false;
    quint32 unused = 0;
    return data::usableAddress(text, unused);
}

std::optional<qint32> devicePort(const QString& text)
{
    const QString t = text.trimmed();
    if (t.isEmpty() || t.size() > 5)
        return std::nullopt;
    for (QChar c : t)
        if (!(c.isDigit() && c.unicode() < 128))
            return std::nullopt;
    const int port = t.toInt();
    if (port < 1 || port > 65535)
        return std::nullopt;
    return port;
}

TcpDeviceSdk::TcpDeviceSdk(int connectTimeoutMs, int readTimeoutMs)
    : connectTimeoutMs_(connectTimeoutMs), readTimeoutMs_(readTimeoutMs)
{
}

TcpDeviceSdk::~TcpDeviceSdk()
{
    Sdk_Disconnect();
}

void TcpDeviceSdk::Sdk_Disconnect()
{
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

void TcpDeviceSdk::Sdk_Pre_Connect(qint32)
{
    // A new connect never leaves the previous device's connection open.
    Sdk_Disconnect();
}

bool TcpDeviceSdk::Sdk_Connect(const QString& address, qint32 port)
{
    Sdk_Disconnect();
    if (!isDottedIpv4(address))
        throw SdkError("not a dotted IPv4 address: " + address.toStdString());
    if (port < 1 || port > 65535)
        throw SdkError("port out of range: " + std::to_string(port));

    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(quint16(port));
    ::inet_pton(AF_INET, address.toLatin1().constData(), &to.sin_addr);

    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        throw SdkError(std::string("socket: ") + std::strerror(errno));
    fd_ = fd;
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);

    const auto deadline = Clock::now() + std::chrono::milliseconds(connectTimeoutMs_);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
        if (errno != EINPROGRESS) {
            const int err = errno;
            Sdk_Disconnect();
            if (err == ECONNREFUSED)
                return false;
            throw SdkError(std::string("connect: ") + std::strerror(err));
        }
        if (!waitFor(POLLOUT, deadline)) {
            Sdk_Disconnect();
            throw SdkError("connect timed out");
        }
        int err = 0;
        socklen_t len = sizeof err;
        ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
        if (err != 0) {
            Sdk_Disconnect();
            if (err == ECONNREFUSED)
                return false;
            throw SdkError(std::string("connect: ") + std::strerror(err));
        }
    }
    const wire::Reply reply = exchange({wire::Op::Hello, 1, {}});
    if (!reply.result)
        Sdk_Disconnect();
    return reply.result;
}

bool TcpDeviceSdk::Sdk_Open_Log(qint32 machine)
{
    return exchange({wire::Op::OpenLog, machine, {}}).result;
}

bool TcpDeviceSdk::Sdk_Next_Record(qint32 machine, PunchRecord& record)
{
    const wire::Reply reply = exchange({wire::Op::NextRecord, machine, {}});
    if (reply.result)
        record = reply.record;
    return reply.result;
}

bool TcpDeviceSdk::Sdk_Clear_Log(qint32 machine)
{
    return exchange({wire::Op::ClearLog, machine, {}}).result;
}

bool TcpDeviceSdk::Sdk_Post_Clear(qint32 machine)
{
    return exchange({wire::Op::PostClear, machine, {}}).result;
}

bool TcpDeviceSdk::Sdk_Clear_Read(qint32 count, const PunchRecord& last)
{
    return exchange({wire::Op::ClearRead, count, last}).result;
}

wire::Reply TcpDeviceSdk::exchange(const wire::Request& request)
{
    if (fd_ < 0)
        throw SdkError("not connected");
    const wire::Op op = request.op;
    try {
        sendAll(wire::encodeRequest(request));
        const QByteArray header = receive(4);
        const std::optional<quint32> length = wire::frameLength(header.constData());
        if (!length)
            throw SdkError("reply frame too long");
        const std::optional<wire::Reply> reply = wire::decodeReply(op, receive(int(*length)));
        if (!reply)
            throw SdkError("malformed reply");
        if (reply->status != wire::Status::Ok)
            throw SdkError("the device failed the operation: " + reply->reason.toStdString());
        return *reply;
    } catch (const SdkError&) {
        // The exchange is out of step now; a later call must not read this reply as its own.
        Sdk_Disconnect();
        throw;
    }
}

void TcpDeviceSdk::sendAll(const QByteArray& bytes)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(readTimeoutMs_);
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd_, bytes.constData() + done, size_t(bytes.size() - done), MSG_NOSIGNAL);
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!waitFor(POLLOUT, deadline))
                throw SdkError("send timed out");
            continue;
        }
        throw SdkError(std::string("send: ") + std::strerror(errno));
    }
}

QByteArray TcpDeviceSdk::receive(int n)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(readTimeoutMs_);
    QByteArray out(n, Qt::Uninitialized);
    int done = 0;
    while (done < n) {
        const ssize_t got = ::recv(fd_, out.data() + done, size_t(n - done), 0);
        if (got > 0) {
            done += int(got);
            continue;
        }
        if (got == 0)
            throw SdkError("the device closed the connection");
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            if (!waitFor(POLLIN, deadline))
                throw SdkError("the device did not answer in time");
            continue;
        }
        throw SdkError(std::string("recv: ") + std::strerror(errno));
    }
    return out;
}

}  // namespace tarvelo::devices
