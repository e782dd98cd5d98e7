#include "devices/addresses.h"
#include "devices_world.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <thread>
#include <unistd.h>

using namespace tarvelo;
using test::DeviceSimulator;
using test::DevicesWorld;
using test::punch;

namespace {

const QString kD = QStringLiteral("الجهاز رقم ");
const QString kModem = QStringLiteral("غير متصل بسبب تغيير المودم");
const QString kCable = QStringLiteral("غير متصل , تاكد من الكيبل");

QString notice(const DevicesWorld& w, const QString& device)
{
    return w.scalar("select concat(Na_Rec, '/', Ne_Rec) from notic_tab where Tabl_Note = 'findev_tab' and No_Note = "
                    + data::sqlLiteral(device));
}

TEST(PullDevices, ResultCodes)
{
    DevicesWorld w;
    DeviceSimulator sim(QStringLiteral("127.0.0.2"));
    // None of these is pulled: not marked for pulling, disabled, another branch's.
    w.addDevice("0100000000000001", sim.address(), sim.portText(), "0");
    w.addDevice("0100000000000002", sim.address(), sim.portText(), "1", "1");
    w.addDevice("0200000000000001", sim.address(), sim.portText(), "1", "0", "02");
    EXPECT_EQ(w.dev().Pull_Devices(), "20");
    EXPECT_EQ(sim.connects(), 0);

    // An unreachable device (1) and a stopped one (-1) must not add up to success.
    w.addDevice("0100000000000003", "127.0.0.9", "4370");
    w.net.unreachable << "127.0.0.9";
    w.addDevice("0100000000000004", "127.0.0.2", "0");
    EXPECT_EQ(w.dev().Pull_Devices(), "31");
    w.records.branchDb.exec("delete from findev_tab where no_rec in ('0100000000000003', '0100000000000004')");

    w.addDevice("0100000000000005", sim);
    EXPECT_EQ(w.dev().Pull_Devices(), "30");

    // An error among the devices, outside a device's own pull, is no success either.
    w.records.branchDb.exec("alter table findev_tab drop column texIP");
    EXPECT_EQ(w.dev().Pull_Devices(), "31");
    EXPECT_EQ(w.errorLines().last(), "Error SYN022(0)");

    w.records.branchDb.exec("drop table findev_tab");
    EXPECT_EQ(w.dev().Pull_Devices(), "10");

    // The machine's address table cannot be read: no code, nothing touched.
    w.ipList = []() -> QStringList { throw devices::AddressTableError("GetIpAddrTable failed with return value 12"); };
    w.dev().MSFG3.setRows(3);
    EXPECT_EQ(w.dev().Pull_Devices(), "");
    EXPECT_EQ(w.dev().MSFG3.rows(), 3);
}

TEST(PullDevices, AnUnreachableDeviceIsDiagnosedByTheThirdOctet)
{
    DevicesWorld w;
    DeviceSimulator sim(QStringLiteral("127.0.0.2"));
    w.machine = QStringList{"127.0.0.1", "192.168.1.20"};
    w.addDevice("0100000000000001", "192.168.2.201", "4370");
    w.addDevice("0100000000000002", "192.168.1.201", "4370");
    w.addDevice("0100000000000003", sim);
    w.net.unreachable << "192.168.2.201" << "192.168.1.201";
    sim.addPunch(punch("1", "2024-03-05 07:00:00"));

    EXPECT_EQ(w.dev().Pull_Devices(), "31");
    EXPECT_EQ(notice(w, "0100000000000001"), kModem + "/Not connected due to modem IP");
    EXPECT_EQ(notice(w, "0100000000000002"), kCable + "/Not connected, check the cable");
    EXPECT_EQ(notice(w, "0100000000000003"), "سحب بصمة عدد 1/New rec 1");
    const QStringList lines = w.messages();
    EXPECT_TRUE(lines.contains(kD + "0100000000000001" + kModem));
    EXPECT_TRUE(lines.contains(kD + "0100000000000002" + kCable));

    // The same device diagnosed again keeps one notice row, refreshed.
    w.machine = QStringList{"127.0.0.1"};
    EXPECT_EQ(w.dev().Pull_Devices(), "31");
    EXPECT_EQ(w.scalar("select count(*) from notic_tab where No_Note = '0100000000000002'"), "1");
    EXPECT_EQ(notice(w, "0100000000000002"), kModem + "/Not connected due to modem IP")
        << "with no address but loopback the machine's third octet is 000";
}

TEST(MachineAddresses, ThirdOctetAndTheLocalAddress)
{
    EXPECT_EQ(devices::Ip_Part3("192.168.1.20"), "001");
    EXPECT_EQ(devices::Ip_Part3("10.0.168.3"), "168");
    EXPECT_EQ(devices::Ip_Part3("192.168. 1.5"), "001");
    EXPECT_EQ(devices::Ip_Part3("192.168..5"), "000");
    EXPECT_EQ(devices::Ip_Part3("192.168.1"), "000");
    EXPECT_EQ(devices::Ip_Part3(""), "000");

    EXPECT_EQ(devices::Get_Local_Ip({"10.0.0.5", "127.0.0.1", "192.168.1.20"}), "192.168.1.20");
    EXPECT_EQ(devices::Get_Local_Ip({"10.0.0.5", "127.0.0.1"}), "10.0.0.5");
    EXPECT_EQ(devices::Get_Local_Ip({"127.0.0.1", "127.0.0.2"}), "");
    EXPECT_EQ(devices::Get_Local_Ip({}), "");

    QStringList list{"192.168.1.20", "10.0.0.5", "9.255.255.255", "127.0.0.1", "10.0.0.40"};
    devices::sortByOctets(list);
    EXPECT_EQ(list, (QStringList{"9.255.255.255", "10.0.0.5", "10.0.0.40", "127.0.0.1", "192.168.1.20"}));
}

// ---- the machine's real address table and real echoes, inside a network namespace of the test's own

// A network namespace that lives as long as this object: loopback, 192.168.1.20/24 and 30 further
// addresses on a veth interface, no route to 192.168.2.0/24 and none to 192.168.1.201.
class PrivateNetwork {
public:
    PrivateNetwork()
    {
        std::thread maker([this] {
            if (::unshare(CLONE_NEWNET) != 0) {
                skipReason = std::string("unshare(CLONE_NEWNET) failed: ") + std::strerror(errno);
                return;
            }
            std::string setup = "PATH=/usr/sbin:/sbin:/usr/bin:/bin:$PATH; exec >/dev/null 2>&1; "
                                "ip link set lo up && ip link add tvd0 type veth peer name tvd1 && ip link set tvd1 up && "
                                "ip link set tvd0 up && "
                                "ip addr add 192.168.1.20/24 dev tvd0 && "
                                "ip route add unreachable 192.168.2.0/24 && ip route add unreachable 192.168.1.201/32";
            for (int i = 30; i >= 1; --i)
                setup += " && ip addr add 10.9.0." + std::to_string(i) + "/32 dev tvd0";
            if (std::system(setup.c_str()) != 0) {
                skipReason = "the namespace could not be set up (needs ip from iproute2 and veth)";
                return;
            }
            fd_ = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
            if (fd_ < 0)
                skipReason = std::string("cannot hold the namespace: ") + std::strerror(errno);
        });
        maker.join();
    }
    ~PrivateNetwork()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }

    // Runs `body` on a thread that has entered the namespace.
    template <typename F>
    auto inside(F body) const
    {
        decltype(body()) result{};
        std::exception_ptr error;
        std::thread t([&] {
            try {
                if (::setns(fd_, CLONE_NEWNET) != 0)
                    throw std::runtime_error(std::string("setns: ") + std::strerror(errno));
                result = body();
            } catch (...) {
                error = std::current_exception();
            }
        });
        t.join();
        if (error)
            std::rethrow_exception(error);
        return result;
    }

    std::string skipReason;

private:
    int fd_ = -1;
};

// Echoes sent from inside the namespace.
class NamespacedNet : public data::Reachability {
public:
    explicit NamespacedNet(const PrivateNetwork& net) : net_(net) {}
    qint32 Ping_Ip(const QString& address, data::EchoReply& reply) override
    {
        return net_.inside([&] { return data::Reachability::Ping_Ip(address, reply); });
    }

private:
    const PrivateNetwork& net_;
};

TEST(MachineAddressesInNamespace, EveryAddressSortedWithoutLimitAndTheDiagnosisOfRealEchoes)
{
    const PrivateNetwork net;
    if (!net.skipReason.empty())
        GTEST_SKIP() << "network namespaces cannot be made here: " << net.skipReason;

    const QStringList list = net.inside([] { return devices::Get_Ip_List(); });
    QStringList expected;
    for (int i = 1; i <= 30; ++i)
        expected << "10.9.0." + QString::number(i);
    expected << "127.0.0.1" << "192.168.1.20";
    EXPECT_EQ(list, expected) << "more addresses than a fixed table holds, ascending by octets";
    EXPECT_EQ(devices::Get_Local_Ip(list), "192.168.1.20");

    DevicesWorld w;
    NamespacedNet echoes(net);
    auto step = std::make_unique<devices::Devices>(devices::DevicesContext{
        w.records.ctx, w.logs, w.errorLog, echoes, w.sdk, {}, [&] { return net.inside([] { return devices::Get_Ip_List(); }); },
        {}});
    w.addDevice("0100000000000001", "192.168.2.201", "4370");
    w.addDevice("0100000000000002", "192.168.1.201", "4370");

    EXPECT_EQ(step->Pull_Devices(), "31");
    EXPECT_EQ(notice(w, "0100000000000001"), kModem + "/Not connected due to modem IP");
    EXPECT_EQ(notice(w, "0100000000000002"), kCable + "/Not connected, check the cable");
}

}  // namespace
