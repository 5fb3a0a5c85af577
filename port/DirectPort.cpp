#include "port/DirectPort.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "port/RegisterPort.h"

#if defined(__x86_64__) || defined(__i386__)
#define TONDREL_HAVE_PORT_IO 1
#include <sys/io.h>
#endif

namespace tondrel {

namespace {

std::string Hex(unsigned v) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%X", v);
    return text;
}

std::string Range(uint16_t base) {
    return "I/O ports " + Hex(base) + "-" + Hex(base + 2u);
}

#ifdef TONDREL_HAVE_PORT_IO
class DirectPort : public RegisterPort {
  public:
    DirectPort(uint16_t base, bool shadow, IopermFunction ioperm)
        : RegisterPort(shadow), base_(base), ioperm_(std::move(ioperm)) {
        LoadShadows();
    }
    ~DirectPort() override { ioperm_(base_, 3, 0); }
    DirectPort(const DirectPort&) = delete;
    DirectPort& operator=(const DirectPort&) = delete;

    std::string Describe() const override { return "direct " + Hex(base_); }

  protected:
    // Only the three granted addresses: any other would fault the process.
    Register RegisterOf(uint16_t address) const override {
        if (address < base_ || address > base_ + 2u) return kNone;
        return static_cast<Register>(address - base_);
    }
    uint8_t ReadRegister(Register reg) override {
        return inb(static_cast<unsigned short>(base_ + reg));
    }
    void WriteRegister(Register reg, uint8_t value) override {
        outb(value, static_cast<unsigned short>(base_ + reg));
    }

  private:
    uint16_t base_;
    IopermFunction ioperm_;
};
#endif

std::string Refused(uint16_t base, int err) {
    const std::string what = "Direct access to " + Range(base) + " was refused";
    switch (err) {
        case EPERM:
        case EACCES:
            return what +
                   ": it needs root or the CAP_SYS_RAWIO capability (sudo setcap "
                   "cap_sys_rawio+ep on the program; a kernel in lockdown mode refuses it "
                   "always). Use the ppdev back end instead (/dev/parport0, group lp).";
        case EINVAL:
            return what +
                   ": the kernel does not accept this address range. Check the port "
                   "base, or use the ppdev back end (/dev/parport0).";
        default:
            return what + ": " + std::strerror(err) + ". Use the ppdev back end instead.";
    }
}

}  // namespace

bool DirectIoSupported() {
#ifdef TONDREL_HAVE_PORT_IO
    return true;
#else
    return false;
#endif
}

std::unique_ptr<PortIo> OpenDirect(uint16_t base, bool shadow, std::string& error,
                                   IopermFunction ioperm) {
    error.clear();
    if (!DirectIoSupported()) {
        error = "Direct port I/O on " + Range(base) +
                " works only on x86 processors. Use the ppdev back end (/dev/parport0).";
        return nullptr;
    }
    if (base == 0 || base > 0xFFFD) {
        error = "Port base " + Hex(base) +
                " is not a parallel port address (LPT1 0x378, "
                "LPT2 0x278, LPT3 0x3BC).";
        return nullptr;
    }
#ifdef TONDREL_HAVE_PORT_IO
    if (!ioperm)
        ioperm = [](unsigned long from, unsigned long num, int on) {
            return ::ioperm(from, num, on);
        };
    errno = 0;
    if (ioperm(base, 3, 1) != 0) {
        error = Refused(base, errno);
        return nullptr;
    }
    return std::make_unique<DirectPort>(base, shadow, std::move(ioperm));
#else
    (void)shadow, (void)ioperm;
    return nullptr;
#endif
}

}  // namespace tondrel
