#pragma once
// A simulated bench behind a ppdev file descriptor: the ioctls a parallel-port program sends to
// /dev/parportN, answered with the kernel driver's rules (claim first, control bits 0-3 only,
// direction by PPDATADIR) and counted by kind.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "common/Status.h"
#include "port/Clock.h"
#include "sim/Bench.h"

namespace tondrel::preload {

struct DeviceConfig {
    std::string DevicePath = "/dev/parport0";
    sim::BenchOptions Bench;
    std::string CountsFile;  // written on close when set
    // The port vanishes (an unplugged card, a removed USB adapter) after this many requests:
    // every later request fails with ENODEV. 0 = never.
    uint64_t VanishAfter = 0;
};

// Reads the TONDREL_SIM_* variables through `lookup` (getenv in the library); for a value that
// cannot be used, one message naming the variable.
Result<DeviceConfig> ConfigFromEnvironment(const std::function<const char*(const char*)>& lookup);

// Real time as the client sees it, where every port access costs exactly one microsecond: the
// chip sees the access at one instant, and the time the simulation itself spends answering it
// does not pass for the chip. So a program polling in a tight loop moves the chip's time forward
// as a real port's cost would, and the clock phases the chip sees are the client's waits plus one
// microsecond per access, however fast or loaded the processor running the simulation is.
class AccessClock : public Clock {
  public:
    uint64_t NowNs() override {
        return inAccess_ ? accessNs_ : real_.NowNs() - hiddenNs_ + extraNs_;
    }
    void SleepMs(uint32_t ms) override { real_.SleepMs(ms); }
    void BeginAccess() {
        enteredNs_ = real_.NowNs();
        extraNs_ += VirtualClock::kPortAccessNs;
        accessNs_ = enteredNs_ - hiddenNs_ + extraNs_;
        inAccess_ = true;
    }
    void EndAccess() {
        hiddenNs_ += real_.NowNs() - enteredNs_;
        inAccess_ = false;
    }

  private:
    SystemClock real_;
    uint64_t extraNs_ = 0;   // the accesses' cost
    uint64_t hiddenNs_ = 0;  // real time spent inside accesses
    uint64_t enteredNs_ = 0;
    uint64_t accessNs_ = 0;  // the chip's time during the current access
    bool inAccess_ = false;
};

class SimDevice {
  public:
    enum Kind : size_t {
        kRData,
        kWData,
        kRStatus,
        kRControl,
        kWControl,
        kFControl,
        kOther,
        kKinds
    };

    // The bench is built at once; Error() tells whether it could be.
    explicit SimDevice(DeviceConfig config);
    // For tests: simulated time, advanced by each port access.
    SimDevice(DeviceConfig config, VirtualClock& clock);
    ~SimDevice();
    SimDevice(const SimDevice&) = delete;
    SimDevice& operator=(const SimDevice&) = delete;

    const Status& Error() const;
    // One ioctl: 0 on success, otherwise minus the errno the kernel would give.
    int Ioctl(unsigned long request, void* arg);
    // The device is closed: releases the port, saves the chip state and writes the counts.
    // Says which of the files could not be written.
    Status Close();

    // Register accesses: the six data-moving requests together.
    uint64_t Accesses() const;

  private:
    // "PPRDATA 12\n..." one line per kind, in a fixed order.
    std::string CountsText() const;
    int Access(unsigned long request, void* arg);

    std::unique_ptr<AccessClock> ownClock_;
    Clock& clock_;
    VirtualClock* virtualClock_ = nullptr;
    DeviceConfig config_;
    std::unique_ptr<sim::Bench> bench_;
    std::array<uint64_t, kKinds> counts_{};
    uint64_t requests_ = 0;
    bool claimed_ = false;
    bool everClaimed_ = false;
    bool exclusive_ = false;
    bool reverse_ = false;
    bool closed_ = false;
    int mode_;
    int phase_;
    int flags_ = 0;
};

}  // namespace tondrel::preload
