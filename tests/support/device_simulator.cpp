#include "support/device_simulator.h"

#include <QDateTime>
#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace tarvelo::test {

using devices::wire::Op;
using devices::wire::Reply;
using devices::wire::Status;

PunchRecord punch(const QString& enroll, const QString& dateTime)
{
    const QDateTime t = QDateTime::fromString(dateTime, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    if (!t.isValid())
        throw std::invalid_argument("not a punch time: " + dateTime.toStdString());
    PunchRecord p;
    p.enrollNumber = enroll;
    p.verifyMode = 1;
    p.year = t.date().year();
    p.month = t.date().month();
    p.day = t.date().day();
    p.hour = t.time().hour();
    p.minute = t.time().minute();
    p.second = t.time().second();
    return p;
}

DeviceSimulator::DeviceSimulator(const QString& address, quint16 port) : address_(address), port_(port)
{
    listenNow();
    thread_ = std::thread([this] { run(); });
}

DeviceSimulator::~DeviceSimulator()
{
    stop_ = true;
    thread_.join();
    if (listenFd_ >= 0)
        ::close(listenFd_);
    for (Client& c : clients_)
        ::close(c.fd);
}

void DeviceSimulator::listenNow()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port_);
    if (::inet_pton(AF_INET, address_.toLatin1().constData(), &a.sin_addr) != 1) {
        ::close(fd);
        throw std::runtime_error("not an address: " + address_.toStdString());
    }
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 16) != 0) {
        const int err = errno;
        ::close(fd);
        throw std::runtime_error("cannot listen on " + address_.toStdString() + ":" + std::to_string(port_) + ": "
                                 + std::strerror(err));
    }
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    listenFd_ = fd;
}

void DeviceSimulator::note(const QString& op)
{
    ops_ << op;
    if (observer_)
        observer_(op);
}

void DeviceSimulator::run()
{
    while (!stop_) {
        std::vector<pollfd> fds;
        {
            std::lock_guard lock(mu_);
            if (refusing_ && listenFd_ >= 0) {
                ::close(listenFd_);
                listenFd_ = -1;
            } else if (!refusing_ && listenFd_ < 0) {
                try {
                    listenNow();
                } catch (const std::exception&) {
                }
            }
            if (listenFd_ >= 0)
                fds.push_back({listenFd_, POLLIN, 0});
            for (const Client& c : clients_)
                fds.push_back({c.fd, POLLIN, 0});
        }
        const int ready = ::poll(fds.data(), fds.size(), 10);
        if (ready <= 0)
            continue;

        std::lock_guard lock(mu_);
        for (const pollfd& p : fds) {
            if (!p.revents)
                continue;
            if (p.fd == listenFd_) {
                const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
                if (fd < 0)
                    continue;
                const int on = 1;
                ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
                Client c;
                c.fd = fd;
                c.silent = silent_;
                clients_.push_back(c);
                ++connects_;
                note(QStringLiteral("connect"));
                continue;
            }
            for (size_t i = 0; i < clients_.size(); ++i) {
                if (clients_[i].fd != p.fd)
                    continue;
                if (!serve(clients_[i])) {
                    ::close(clients_[i].fd);
                    clients_.erase(clients_.begin() + qsizetype(i));
                    note(QStringLiteral("close"));
                }
                break;
            }
        }
    }
}

bool DeviceSimulator::serve(Client& c)
{
    char buf[4096];
    const ssize_t n = ::recv(c.fd, buf, sizeof buf, MSG_DONTWAIT);
    if (n == 0)
        return false;
    if (n < 0)
        return errno == EAGAIN || errno == EINTR;
    c.in.append(buf, n);
    while (c.in.size() >= 4) {
        const auto length = devices::wire::frameLength(c.in.constData());
        if (!length)
            return false;
        if (c.in.size() < 4 + qsizetype(*length))
            break;
        const QByteArray body = c.in.mid(4, *length);
        c.in.remove(0, 4 + *length);
        if (!answer(c, body))
            return false;
    }
    return true;
}

bool DeviceSimulator::answer(Client& c, const QByteArray& body)
{
    const auto request = devices::wire::decodeRequest(body);
    if (!request)
        return false;
    static const char* const names[] = {"", "hello", "open", "next", "clear", "postclear", "clearread"};
    note(QString::fromLatin1(names[int(request->op)]));
    if (c.silent)
        return true;
    if (!atRequestHooks(request->op))
        return false;

    Reply reply;
    if (failing_ && *failing_ == request->op) {
        reply.status = Status::Failed;
        reply.reason = QStringLiteral("simulated failure");
    } else {
        switch (request->op) {
        case Op::Hello:
        case Op::PostClear:
            reply.result = true;
            break;
        case Op::OpenLog:
            c.cursor = 0;
            reply.result = !log_.empty();
            break;
        case Op::NextRecord:
            if (c.cursor < 0)
                break;
            if (dropAfter_ >= 0 && c.sent >= dropAfter_)
                return false;
            if (size_t(c.cursor) < log_.size()) {
                if (recordDelayMs_ > 0)
                    std::this_thread::sleep_for(std::chrono::milliseconds(recordDelayMs_));
                reply.result = true;
                reply.record = log_[size_t(c.cursor++)];
                ++c.sent;
            } else if (afterRead_) {
                take(*afterRead_);
                afterRead_.reset();
            }
            break;
        case Op::ClearRead: {
            const int n = std::min(int(log_.size()), request->argument);
            for (int p = n - 1; p >= 0 && !clearFalse_; --p) {
                if (log_[size_t(p)] == request->last) {
                    log_.erase(log_.begin(), log_.begin() + p + 1);
                    reply.result = true;
                    break;
                }
            }
            break;
        }
        case Op::ClearLog:
            if (!clearFalse_) {
                log_.clear();
                reply.result = true;
            }
            break;
        }
    }
    const QByteArray out = devices::wire::encodeReply(request->op, reply);
    qsizetype done = 0;
    while (done < out.size()) {
        const ssize_t n = ::send(c.fd, out.constData() + done, size_t(out.size() - done), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n < 0 && errno == EAGAIN) {
                pollfd p{c.fd, POLLOUT, 0};
                ::poll(&p, 1, 100);
                continue;
            }
            return false;
        }
        done += n;
    }
    return true;
}

void DeviceSimulator::take(const PunchRecord& p)
{
    if (capacity_ > 0 && int(log_.size()) >= capacity_)
        log_.erase(log_.begin());
    log_.push_back(p);
}

bool DeviceSimulator::atRequestHooks(Op op)
{
    bool answer = true;
    for (auto h = hooks_.begin(); h != hooks_.end();) {
        if (h->op != op || --h->left > 0) {
            ++h;
            continue;
        }
        if (h->punch)
            take(*h->punch);
        else
            answer = false;
        h = hooks_.erase(h);
    }
    return answer;
}

void DeviceSimulator::atRequest(Op op, int nth, std::optional<PunchRecord> p)
{
    std::lock_guard lock(mu_);
    hooks_.push_back({op, nth, std::move(p)});
}

void DeviceSimulator::setCapacity(int records)
{
    setLocked(capacity_, records);
}

void DeviceSimulator::setRecordDelayMs(int ms)
{
    setLocked(recordDelayMs_, ms);
}

void DeviceSimulator::addPunch(const PunchRecord& p)
{
    std::lock_guard lock(mu_);
    take(p);
}

void DeviceSimulator::addPunches(const std::vector<PunchRecord>& ps)
{
    std::lock_guard lock(mu_);
    log_.insert(log_.end(), ps.begin(), ps.end());
}

std::vector<PunchRecord> DeviceSimulator::punchLog() const
{
    std::lock_guard lock(mu_);
    return log_;
}

int DeviceSimulator::logSize() const
{
    std::lock_guard lock(mu_);
    return int(log_.size());
}

int DeviceSimulator::connects() const
{
    std::lock_guard lock(mu_);
    return connects_;
}

int DeviceSimulator::openConnections() const
{
    std::lock_guard lock(mu_);
    return int(clients_.size());
}

QStringList DeviceSimulator::operations() const
{
    std::lock_guard lock(mu_);
    return ops_;
}

int DeviceSimulator::countOf(const QString& operation) const
{
    std::lock_guard lock(mu_);
    return int(ops_.count(operation));
}

bool DeviceSimulator::waitAllClosed(int ms) const
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (openConnections() > 0) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

void DeviceSimulator::setRefusing(bool on)
{
    {
        std::lock_guard lock(mu_);
        refusing_ = on;
    }
    // The thread opens and closes the listening socket; wait until it has.
    for (int i = 0; i < 400; ++i) {
        {
            std::lock_guard lock(mu_);
            if ((listenFd_ < 0) == on)
                return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void DeviceSimulator::setSilent(bool on)
{
    setLocked(silent_, on);
}

void DeviceSimulator::setDropAfterRecords(int n)
{
    setLocked(dropAfter_, n);
}

void DeviceSimulator::setFailing(std::optional<devices::wire::Op> op)
{
    setLocked(failing_, op);
}

void DeviceSimulator::setClearAnswersFalse(bool on)
{
    setLocked(clearFalse_, on);
}

void DeviceSimulator::addPunchAfterRead(const PunchRecord& p)
{
    setLocked(afterRead_, p);
}

void DeviceSimulator::setObserver(std::function<void(const QString&)> observer)
{
    std::lock_guard lock(mu_);
    observer_ = std::move(observer);
}

}  // namespace tarvelo::test
