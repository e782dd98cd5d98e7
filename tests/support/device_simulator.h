#pragma once
#include "devices/device_protocol.h"

#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace tarvelo::test {

using devices::wire::PunchRecord;

// A punch at "yyyy-mm-dd hh:mm:ss".
PunchRecord punch(const QString& enroll, const QString& dateTime);

// A fingerprint device on a TCP address of its own, speaking the device protocol: an ordered punch
// log, real exchanges on a thread of its own, counts of connections and a record of operations,
// and hooks for the faults a device on a branch network shows.
class DeviceSimulator {
public:
    // Listens on address:port (0 picks a free port); throws std::runtime_error when it cannot.
    explicit DeviceSimulator(const QString& address, quint16 port = 0);
    ~DeviceSimulator();
    DeviceSimulator(const DeviceSimulator&) = delete;
    DeviceSimulator& operator=(const DeviceSimulator&) = delete;

    const QString& address() const { return address_; }
    quint16 port() const { return port_; }
    QString portText() const { return QString::number(port_); }

    void addPunch(const PunchRecord& p);
    void addPunches(const std::vector<PunchRecord>& ps);
    std::vector<PunchRecord> punchLog() const;
    int logSize() const;

    int connects() const;         // connections accepted so far
    int openConnections() const;  // connections open now
    // "connect", "hello", "open", "next", "clear", "postclear", "clearread", "close", in the order they
    // happened.
    QStringList operations() const;
    int countOf(const QString& operation) const;
    // Waits until no connection is open (the client's close reaches the thread a moment later).
    bool waitAllClosed(int ms = 2000) const;

    // Fault hooks.
    void setRefusing(bool on);            // nothing listens: connections are refused
    void setSilent(bool on);              // new connections are accepted and never answered
    void setDropAfterRecords(int n);      // a connection is closed instead of its (n+1)th record; -1 off
    void setFailing(std::optional<devices::wire::Op> op);  // that operation answers a failing status
    void setClearAnswersFalse(bool on);   // the clear answers False and clears nothing
    // A punch that arrives once, right after the log was read to its end for the first time.
    void addPunchAfterRead(const PunchRecord& p);
    // When the nth request of `op` from now on arrives: a punch is taken just before it is answered,
    // or (no punch) the connection is dropped instead of answering.
    void atRequest(devices::wire::Op op, int nth, std::optional<PunchRecord> p = std::nullopt);
    void setCapacity(int records);   // a full log drops its oldest record for a new one; 0 no limit
    void setRecordDelayMs(int ms);   // each record's reply waits this long

    // Called on the simulator's thread for each operation (for the program's trace).
    void setObserver(std::function<void(const QString&)> observer);

private:
    struct Client {
        int fd = -1;
        QByteArray in;
        bool silent = false;
        int cursor = -1;  // next record to send; -1 until the log is opened
        int sent = 0;
    };
    void listenNow();
    void run();
    void note(const QString& op);  // with mu_ held
    bool serve(Client& c);         // false: close the client
    bool answer(Client& c, const QByteArray& body);
    template <typename T, typename V>
    void setLocked(T& field, V&& value)
    {
        std::lock_guard lock(mu_);
        field = std::forward<V>(value);
    }
    void take(const PunchRecord& p);  // with mu_ held
    bool atRequestHooks(devices::wire::Op op);  // with mu_ held; false: drop the connection

    QString address_;
    quint16 port_ = 0;
    mutable std::mutex mu_;
    int listenFd_ = -1;
    std::vector<PunchRecord> log_;
    std::vector<Client> clients_;
    int connects_ = 0;
    QStringList ops_;
    bool refusing_ = false;
    bool silent_ = false;
    int dropAfter_ = -1;
    std::optional<devices::wire::Op> failing_;
    bool clearFalse_ = false;
    std::optional<PunchRecord> afterRead_;
    struct Hook {
        devices::wire::Op op;
        int left;
        std::optional<PunchRecord> punch;
    };
    std::vector<Hook> hooks_;
    int capacity_ = 0;
    int recordDelayMs_ = 0;
    std::function<void(const QString&)> observer_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace tarvelo::test
