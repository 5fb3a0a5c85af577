#include "port/PpdevPort.h"

#include <fcntl.h>
#include <linux/parport.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "port/Lpt.h"
#include "port/RegisterPort.h"

namespace tondrel {

namespace {

class PpdevPort : public RegisterPort {
  public:
    PpdevPort(int fd, std::string device, bool shadow)
        : RegisterPort(shadow), fd_(fd), device_(std::move(device)) {
        LoadShadows();
    }
    ~PpdevPort() override {
        ioctl(fd_, PPRELEASE);
        close(fd_);
    }
    PpdevPort(const PpdevPort&) = delete;
    PpdevPort& operator=(const PpdevPort&) = delete;

    std::string Describe() const override { return "ppdev " + device_; }
    Status TakeError() override { return std::exchange(error_, Status()); }

  protected:
    // The device is the port, whatever base the caller uses: 0x378, 0x278 and 0x3BC all keep
    // their registers at base + 0, 1, 2.
    Register RegisterOf(uint16_t address) const override {
        switch (address & 3u) {
            case 0:
                return kData;
            case 1:
                return kStatus;
            case 2:
                return kControl;
            default:
                return kNone;
        }
    }

    uint8_t ReadRegister(Register reg) override {
        unsigned char v = 0xFF;
        const unsigned long request = reg == kData     ? PPRDATA
                                      : reg == kStatus ? PPRSTATUS
                                                       : PPRCONTROL;
        if (ioctl(fd_, request, &v) != 0) Failed(errno);
        return v;
    }

    void WriteRegister(Register reg, uint8_t value) override {
        unsigned char v = value;
        if (ioctl(fd_, reg == kData ? PPWDATA : PPWCONTROL, &v) != 0) Failed(errno);
    }

  private:
    // The first failure is the one worth naming; a vanished port fails every access after it.
    void Failed(int err) {
        if (error_.Ok()) error_ = Status::Error("PortAccessFailed", device_, std::strerror(err));
    }

    int fd_;
    std::string device_;
    Status error_;
};

// What went wrong, by the errno of the open and of the claim; the other errors name the
// system's reason.
struct Failure {
    int Errno;
    const char* Key;
};
constexpr Failure kOpenFailures[] = {
    {ENOENT, "PortPpdevMissing"},     {EACCES, "PortPpdevNoPermission"},
    {EPERM, "PortPpdevNoPermission"}, {ENXIO, "PortPpdevNoHardware"},
    {ENODEV, "PortPpdevNoHardware"},  {EISDIR, "PortPpdevDirectory"},
    {EBUSY, "PortPpdevBusy"},
};
constexpr Failure kClaimFailures[] = {
    {ENOTTY, "PortPpdevNotPpdev"},
    {EINVAL, "PortPpdevNotPpdev"},
    {EBUSY, "PortPpdevClaimBusy"},
    {EAGAIN, "PortPpdevClaimBusy"},
};

template <size_t N>
Message Explain(const Failure (&known)[N], const char* otherKey, const std::string& device,
                int err) {
    for (const Failure& f : known)
        if (f.Errno == err) return Msg(f.Key, device);
    return Msg(otherKey, device, std::strerror(err));
}

}  // namespace

Result<std::unique_ptr<PortIo>> OpenPpdev(const std::string& device, bool shadow) {
    if (device.empty()) return Msg("PortPpdevNoDevice");
    const int fd = open(device.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return Explain(kOpenFailures, "PortPpdevOpenFailed", device, errno);
    // Exclusive access keeps the printer driver off the lines while a chip is programmed; a
    // port shared with a registered driver still works without it.
    ioctl(fd, PPEXCL);
    if (ioctl(fd, PPCLAIM) != 0) {
        Message failure = Explain(kClaimFailures, "PortPpdevClaimFailed", device, errno);
        close(fd);
        return failure;
    }
    // Forward direction: the data pins drive the adapter.
    int forward = 0;
    ioctl(fd, PPDATADIR, &forward);
    return std::unique_ptr<PortIo>(std::make_unique<PpdevPort>(fd, device, shadow));
}

std::string PpdevDeviceForLpt(int lpt) {
    if (lpt < 1 || lpt > 3) return {};
    return "/dev/parport" + std::to_string(lpt - 1);
}

std::string PpdevDeviceForBase(int base) {
    return PpdevDeviceForLpt(LptForBase(base));
}

}  // namespace tondrel
