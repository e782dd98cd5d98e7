#pragma once

namespace tarvelo::sync {

// The attendance-device step at the end of a cycle. The devices subsystem implements it; the cycle
// only decides when each call runs (it reads the schedule grid's row count itself).
class DeviceStep {
public:
    virtual ~DeviceStep() = default;
    virtual void Load_Pull_Plan() = 0;
    virtual void Run_Pull_Plan() = 0;
    virtual void Next_Pull_Plan() = 0;
};

}  // namespace tarvelo::sync
