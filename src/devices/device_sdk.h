#pragma once
#include "devices/device_protocol.h"

#include <QString>
#include <chrono>
#include <functional>
#include <optional>
#include <stdexcept>

namespace tarvelo::devices {

using wire::PunchRecord;

// A failing status of a device operation: the device could not be asked, did not answer in time,
// or answered that the operation failed.
class SdkError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The pull a device operation belongs to ran past its deadline.
class DeadlineError : public SdkError {
public:
    using SdkError::SdkError;
};

// What a pull asks of every wait on a device: window events keep running, and no wait goes past the
// pull's deadline (which the pull may move while it runs).
struct DeviceWait {
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds PumpEvery{50};
    std::function<void()> pump;
    Clock::time_point deadline = Clock::time_point::max();
    // Throws DeadlineError once the deadline has passed.
    void check() const;
};

// The operations of the fingerprint-device layer. Each returns the device's Boolean answer and
// throws SdkError for a failing status. One object serves every device, one after another.
class DeviceSdk {
public:
    virtual ~DeviceSdk() = default;

    // Called once before every connect; drops the connection the object holds, if any.
    virtual void Sdk_Pre_Connect(qint32 machine) = 0;
    // True: connected; later operations work on this device. False: the device refused.
    virtual bool Sdk_Connect(const QString& address, qint32 port) = 0;
    virtual bool Sdk_Open_Log(qint32 machine) = 0;
    // True: `record` holds the next record of the log; false: none is left.
    virtual bool Sdk_Next_Record(qint32 machine, PunchRecord& record) = 0;
    virtual bool Sdk_Clear_Log(qint32 machine) = 0;
    virtual bool Sdk_Post_Clear(qint32 machine) = 0;
    // Drops the first `count` records, up to `last`, and keeps any record that came after them.
    // False: `last` is not among the first `count`, and nothing was dropped.
    virtual bool Sdk_Clear_Read(qint32 count, const PunchRecord& last) = 0;
    // Drops the connection; nothing fails.
    virtual void Sdk_Disconnect() = 0;
    // The waits of the operations that follow keep to `wait` (nullptr: only their own time-outs).
    virtual void Sdk_Set_Wait(const DeviceWait* wait) = 0;
};

// The device layer over TCP. Both waits are bounded: a device that accepts the connection and then
// stays silent costs at most the read time-out per operation, never the UI thread for good.
class TcpDeviceSdk : public DeviceSdk {
public:
    static constexpr int DefaultConnectTimeoutMs = 5000;
    static constexpr int DefaultReadTimeoutMs = 10000;

    TcpDeviceSdk(int connectTimeoutMs = DefaultConnectTimeoutMs, int readTimeoutMs = DefaultReadTimeoutMs);
    ~TcpDeviceSdk() override;
    TcpDeviceSdk(const TcpDeviceSdk&) = delete;
    TcpDeviceSdk& operator=(const TcpDeviceSdk&) = delete;

    void Sdk_Pre_Connect(qint32 machine) override;
    bool Sdk_Connect(const QString& address, qint32 port) override;
    bool Sdk_Open_Log(qint32 machine) override;
    bool Sdk_Next_Record(qint32 machine, PunchRecord& record) override;
    bool Sdk_Clear_Log(qint32 machine) override;
    bool Sdk_Post_Clear(qint32 machine) override;
    bool Sdk_Clear_Read(qint32 count, const PunchRecord& last) override;
    void Sdk_Disconnect() override;
    void Sdk_Set_Wait(const DeviceWait* wait) override { wait_ = wait; }

    bool connected() const { return fd_ >= 0; }

private:
    wire::Reply exchange(const wire::Request& request);
    // Waits for `events` until `deadline`, pumping; false on time-out, DeadlineError past the pull's.
    bool waitFor(short events, std::chrono::steady_clock::time_point deadline);
    void sendAll(const QByteArray& bytes);
    QByteArray receive(int n);

    int connectTimeoutMs_;
    int readTimeoutMs_;
    int fd_ = -1;
    const DeviceWait* wait_ = nullptr;
};

// A dotted IPv4 address as a device is configured with: four decimal numbers 0-255, nothing else,
// and a usable destination.
bool isDottedIpv4(const QString& text);

// The port as findev_tab holds it: 1 to 65535 in plain digits; nullopt otherwise.
std::optional<qint32> devicePort(const QString& text);

}  // namespace tarvelo::devices
