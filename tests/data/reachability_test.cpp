#include "data/reachability.h"
#include "data/reachability_posix.h"

#include <arpa/inet.h>
#include <cerrno>
#include <climits>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <sched.h>
#include <string>
#include <thread>
#include <time.h>
#include <tuple>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

using namespace tarvelo;
using data::EchoReply;
using data::Reachability;

namespace {

EchoReply marked()
{
    EchoReply r;
    r.Address = 7;
    r.Status = 12345;
    r.RoundTripTime = 9;
    r.Data = "untouched";
    return r;
}

// Whether this process may make an ICMP socket of either kind at all.
bool icmpSocketsAllowed()
{
    for (int type : {SOCK_DGRAM, SOCK_RAW}) {
        const int fd = ::socket(AF_INET, type, IPPROTO_ICMP);
        if (fd >= 0) {
            ::close(fd);
            return true;
        }
    }
    return false;
}

#define REQUIRE_ICMP_SOCKETS()                                                                  \
    if (!icmpSocketsAllowed())                                                                  \
    GTEST_SKIP() << "this process may make no ICMP socket (not root, and ping_group_range "     \
                    "excludes its group)"

TEST(Reachability, LoopbackAnswersOneEcho)
{
    REQUIRE_ICMP_SOCKETS();
    Reachability net;
    EchoReply reply;
    const qint32 status = net.Ping_Ip("127.0.0.1", reply);
    ASSERT_NE(net.lastSocketKind(), Reachability::SocketKind::None) << "no ICMP socket could be made here";
    EXPECT_EQ(status, 0);
    EXPECT_EQ(reply.Status, 0u);
    EXPECT_EQ(data::Ping_Status_Text(status), "OK");
    EXPECT_EQ(reply.Address, inet_addr("127.0.0.1"));
    EXPECT_EQ(reply.DataSize, 5);
    EXPECT_EQ(reply.Data, "hello");

    // Echoes one after another each get their own answer.
    EchoReply again;
    EXPECT_EQ(net.Ping_Ip("127.0.0.1", again), 0);
    EXPECT_EQ(again.Data, "hello");
}

TEST(Reachability, PingHostStartsTheSocketLayerEveryTimeAndNeverEndsIt)
{
    REQUIRE_ICMP_SOCKETS();
    Reachability net;
    EXPECT_TRUE(net.Ping_Host("127.0.0.1"));
    EXPECT_TRUE(net.Ping_Host("127.0.0.1"));
    EXPECT_EQ(net.startCount(), 2);
    EXPECT_FALSE(net.Ping_Host("server"));
    EXPECT_EQ(net.startCount(), 3);

    net.Sock_Clean();
    net.Sock_Clean();
    net.Sock_Clean();
    net.Sock_Clean();  // one more than started: harmless
    EXPECT_EQ(net.startCount(), 0);
    EXPECT_TRUE(net.Sock_Start());
    EXPECT_EQ(net.startCount(), 1);
}

TEST(Reachability, UnusableAddressesGiveMinusOneWithoutASocket)
{
    const QString texts[] = {
        "server", "", " ", "0.0.0.0", "255.255.255.255", "127.0.0.256", "127.0.0.1.5", "localhost",
        QString("127.0.0.1") + QChar(0) + "x",   // a NUL must not cut the text short
        QString::fromUtf8("١٢٧.٠.٠.١"),          // Arabic digits are no address
    };
    for (const QString& text : texts) {
        Reachability net;
        EchoReply reply = marked();
        EXPECT_EQ(net.Ping_Ip(text, reply), -1) << text.toStdString();
        EXPECT_EQ(net.lastSocketKind(), Reachability::SocketKind::None) << "a socket was made for " << text.toStdString();
        EXPECT_EQ(reply.Status, 12345u);
        EXPECT_EQ(reply.Data, "untouched");
        EXPECT_FALSE(net.Ping_Host(text)) << text.toStdString();
    }
    EXPECT_EQ(data::Ping_Status_Text(-1), "Unknown Response");
}

TEST(Reachability, StatusTexts)
{
    const std::pair<qint32, const char*> known[] = {
        {0, "OK"},
        {11001, "Buffer Too Small"},
        {11002, "Destination Net Unreachable"},
        {11003, "Destination Host Unreachable"},
        {11004, "Destination Protocol Unreachable"},
        {11005, "Destination Port Unreachable"},
        {11006, "No Resources"},
        {11007, "Bad Option"},
        {11008, "Hardware Error"},
        {11009, "Packet Too Big"},
        {11010, "Request Timed Out"},
        {11011, "Bad Request"},
        {11012, "Bad Route"},
        {11013, "TimeToLive Expired Transit"},
        {11014, "TimeToLive Expired Reassembly"},
        {11015, "Parameter Problem"},
        {11016, "Source Quench"},
        {11017, "Option Too Big"},
        {11018, "Bad Destination"},
        {11032, "Negotiating IPSEC"},
        {11050, "General Failure"},
    };
    for (const auto& [code, text] : known)
        EXPECT_EQ(data::Ping_Status_Text(code), text) << code;

    std::vector<qint32> unknown = {-1, INT_MIN, 1, 2, 5000, 11000, 11051, 11100, 65535, INT_MAX};
    for (qint32 c = 11019; c <= 11031; ++c)
        unknown.push_back(c);
    for (qint32 c = 11033; c <= 11049; ++c)
        unknown.push_back(c);
    for (qint32 code : unknown)
        EXPECT_EQ(data::Ping_Status_Text(code), "Unknown Response") << code;
}

TEST(Reachability, IcmpErrorsBecomeStatusCodes)
{
    const std::tuple<int, int, qint32> cases[] = {
        {3, 0, 11002}, {3, 1, 11003}, {3, 2, 11004}, {3, 3, 11005}, {3, 4, 11009}, {3, 5, 11012},
        {3, 6, 11002}, {3, 13, 11003}, {11, 0, 11013}, {11, 1, 11014}, {12, 0, 11015}, {4, 0, 11016},
    };
    for (const auto& [type, code, status] : cases)
        EXPECT_EQ(data::icmpErrorStatus(type, code), status) << type << "/" << code;
}

// ---- echoes inside a network namespace of the test's own ----------------------------------

// The namespace has loopback and a veth pair: 198.51.100.1/24 is ours; 198.51.100.2 has a fixed
// link address that no interface owns, so its echoes vanish; 198.51.100.3 has none, so its
// address resolution fails and the kernel reports the host unreachable; 203.0.113.7 lies behind
// an unreachable route. None of these addresses exists outside the namespace.
const char* const kNamespaceSetup =
    "PATH=/usr/sbin:/sbin:/usr/bin:/bin:$PATH; exec >/dev/null 2>&1; "
    "ip link set lo up && "
    "ip link add tv0 type veth peer name tv1 && "
    "ip addr add 198.51.100.1/24 dev tv0 && "
    "ip link set tv1 up && ip link set tv0 up && "
    "ip neigh replace 198.51.100.2 lladdr 02:00:00:00:00:02 dev tv0 nud permanent && "
    "ip route add unreachable 203.0.113.7";

const char* const kOpenPingSockets = "echo '0 2147483647' > /proc/sys/net/ipv4/ping_group_range";

struct NamespaceRun {
    std::string skipReason;  // set when no namespace could be made here
    std::vector<qint64> values;
};

// Runs `body` on a thread of its own that has left for a network namespace of its own; the
// setup commands run in processes the thread starts, which share that namespace. The namespace
// and everything in it end with the thread, whatever happens to the test.
NamespaceRun inPrivateNetwork(const std::vector<std::string>& setup, const std::function<std::vector<qint64>()>& body)
{
    NamespaceRun run;
    std::thread worker([&] {
        if (::unshare(CLONE_NEWNET) != 0) {
            run.skipReason = std::string("unshare(CLONE_NEWNET) failed: ") + std::strerror(errno);
            return;
        }
        for (const std::string& command : setup) {
            if (std::system(command.c_str()) != 0) {
                run.skipReason = "the namespace could not be set up (needs ip from iproute2 and veth): " + command;
                return;
            }
        }
        run.values = body();
    });
    worker.join();
    return run;
}

qint64 kindNumber(Reachability::SocketKind k)
{
    return k == Reachability::SocketKind::Datagram ? 1 : k == Reachability::SocketKind::Raw ? 2 : 0;
}

// Loopback, a silent host, a host whose address resolution fails, an unreachable route; each
// echo's status and the kind of socket it went through; last Ping_Host of the unreachable one.
std::vector<qint64> probe()
{
    std::vector<qint64> v;
    for (const char* target : {"127.0.0.1", "198.51.100.2", "198.51.100.3", "203.0.113.7"}) {
        Reachability net;
        EchoReply reply;
        v.push_back(net.Ping_Ip(target, reply));
        v.push_back(qint64(reply.Status));
        v.push_back(kindNumber(net.lastSocketKind()));
    }
    v.push_back(Reachability().Ping_Host("203.0.113.7") ? 1 : 0);
    return v;
}

void checkProbe(const NamespaceRun& run, qint64 expectedKind)
{
    ASSERT_EQ(run.values.size(), 13u);
    const auto& v = run.values;
    EXPECT_EQ(v[0], 0) << "loopback";
    EXPECT_EQ(v[2], expectedKind);

    EXPECT_EQ(v[3], 11010) << "silent host: " << data::Ping_Status_Text(qint32(v[3])).toStdString();
    EXPECT_EQ(v[4], 11010);
    EXPECT_EQ(data::Ping_Status_Text(qint32(v[3])), "Request Timed Out");
    EXPECT_EQ(v[5], expectedKind);

    EXPECT_EQ(v[6], 11003) << "failed address resolution: " << data::Ping_Status_Text(qint32(v[6])).toStdString();
    EXPECT_EQ(v[7], 11003);

    EXPECT_EQ(v[9], 11003) << "unreachable route: " << data::Ping_Status_Text(qint32(v[9])).toStdString();
    EXPECT_EQ(v[10], 11003);

    EXPECT_EQ(v[12], 0) << "Ping_Host of an unreachable host";
}

TEST(ReachabilityInNamespace, RawSocketEchoes)
{
    const NamespaceRun run = inPrivateNetwork({kNamespaceSetup}, probe);
    if (!run.skipReason.empty())
        GTEST_SKIP() << "network namespaces cannot be made here: " << run.skipReason;
    checkProbe(run, 2);  // a new namespace refuses datagram ICMP sockets to every group
}

TEST(ReachabilityInNamespace, DatagramSocketEchoes)
{
    const NamespaceRun run = inPrivateNetwork({kNamespaceSetup, kOpenPingSockets}, probe);
    if (!run.skipReason.empty())
        GTEST_SKIP() << "network namespaces cannot be made here: " << run.skipReason;
    checkProbe(run, 1);
}

// A raw socket whose only news about the echo is on its error queue (its filter passes echo
// replies alone): the wait reads the report instead of spinning on poll until the time-out.
std::vector<qint64> waitOnErrorQueue()
{
    const int fd = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd < 0)
        return {};
    const int on = 1;
    ::setsockopt(fd, SOL_IP, IP_RECVERR, &on, sizeof on);
    const quint32 onlyReplies = ~1u;
    ::setsockopt(fd, SOL_RAW, 1 /* ICMP_FILTER */, &onlyReplies, sizeof onlyReplies);

    const data::icmp::Echo echo{inet_addr("198.51.100.3"), 0x5151, 7};
    const auto cpu = [] {
        timespec t{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return qint64(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
    };
    const qint64 sent = data::icmp::sendEcho(fd, echo);
    const qint64 cpuBefore = cpu();
    const auto outcome = data::icmp::awaitEcho(fd, true, echo, std::chrono::steady_clock::now() + std::chrono::seconds(5));
    const qint64 cpuUsed = cpu() - cpuBefore;
    ::close(fd);
    return {sent, qint64(outcome.verdict), outcome.status, cpuUsed};
}

TEST(ReachabilityInNamespace, AnErrorReportOnTheQueueEndsTheWaitWithoutSpinning)
{
    // Address resolution gives up after one probe of 100 ms.
    const NamespaceRun run = inPrivateNetwork(
        {kNamespaceSetup, "echo 1 > /proc/sys/net/ipv4/neigh/tv0/mcast_solicit && "
                          "echo 100 > /proc/sys/net/ipv4/neigh/tv0/retrans_time_ms"},
        waitOnErrorQueue);
    if (!run.skipReason.empty())
        GTEST_SKIP() << "network namespaces cannot be made here: " << run.skipReason;
    ASSERT_EQ(run.values.size(), 4u) << "no raw socket inside the namespace";
    EXPECT_EQ(run.values[0], 0);
    EXPECT_EQ(run.values[1], qint64(data::icmp::Verdict::Failed));
    EXPECT_EQ(run.values[2], 11003);
    EXPECT_LT(run.values[3], 300) << "milliseconds of processor time spent waiting";
}

}  // namespace
