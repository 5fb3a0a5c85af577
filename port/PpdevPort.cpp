#include "port/PpdevPort.h"

#include <fcntl.h>
#include <linux/parport.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

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
    std::string TakeError() override { return std::exchange(error_, std::string()); }

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
        if (error_.empty()) error_ = device_ + ": " + std::strerror(err);
    }

    int fd_;
    std::string device_;
    std::string error_;
};

std::string OpenFailure(const std::string& device, int err) {
    switch (err) {
        case ENOENT:
            return "Parallel port " + device +
                   " does not exist. Load the kernel modules parport_pc and ppdev "
                   "(sudo modprobe parport_pc ppdev) or choose another port.";
        case EACCES:
        case EPERM:
            return "No permission to open parallel port " + device +
                   ". Add your user to group lp (sudo usermod -aG lp $USER, then log in "
                   "again) or give the device read/write permissions.";
        case ENXIO:
        case ENODEV:
            return "No parallel port hardware behind " + device +
                   ". Load the kernel module parport_pc (sudo modprobe parport_pc), check "
                   "that the port is enabled in the BIOS, or choose another port.";
        case EISDIR:
            return device +
                   " is a directory, not a parallel port device. Give a device "
                   "node such as /dev/parport0.";
        case EBUSY:
            return "Parallel port " + device +
                   " is busy: another program holds it. Close that program (or unload the "
                   "printer driver: sudo rmmod lp) and try again.";
        default:
            return "Cannot open parallel port " + device + ": " + std::strerror(err) +
                   ". Check that the ppdev module is loaded and that you may use the device.";
    }
}

std::string ClaimFailure(const std::string& device, int err) {
    switch (err) {
        case ENOTTY:
        case EINVAL:
            return device +
                   " is not a parallel port device (ppdev). Give a device node such as "
                   "/dev/parport0, and load the ppdev module (sudo modprobe ppdev).";
        case EBUSY:
        case EAGAIN:
            return "Cannot claim parallel port " + device +
                   ": another program holds it. Close that program (or unload the printer "
                   "driver: sudo rmmod lp) and try again.";
        default:
            return "Cannot claim parallel port " + device + ": " + std::strerror(err) +
                   ". Check that the modules parport_pc and ppdev are loaded.";
    }
}

}  // namespace

std::unique_ptr<PortIo> OpenPpdev(const std::string& device, bool shadow, std::string& error) {
    error.clear();
    if (device.empty()) {
        error = "No parallel port device given. Name one such as /dev/parport0.";
        return nullptr;
    }
    const int fd = open(device.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        error = OpenFailure(device, errno);
        return nullptr;
    }
    // Exclusive access keeps the printer driver off the lines while a chip is programmed; a
    // port shared with a registered driver still works without it.
    ioctl(fd, PPEXCL);
    if (ioctl(fd, PPCLAIM) != 0) {
        error = ClaimFailure(device, errno);
        close(fd);
        return nullptr;
    }
    // Forward direction: the data pins drive the adapter.
    int forward = 0;
    ioctl(fd, PPDATADIR, &forward);
    return std::make_unique<PpdevPort>(fd, device, shadow);
}

std::string PpdevDeviceForLpt(int lpt) {
    if (lpt < 1 || lpt > 3) return {};
    return "/dev/parport" + std::to_string(lpt - 1);
}

std::string PpdevDeviceForBase(int base) {
    switch (base) {
        case 0x378:
            return PpdevDeviceForLpt(1);
        case 0x278:
            return PpdevDeviceForLpt(2);
        case 0x3BC:
            return PpdevDeviceForLpt(3);
        default:
            return {};
    }
}

}  // namespace tondrel
