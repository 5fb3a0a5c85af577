#include "port/DirectPort.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

#include "common/Text.h"
#include "port/Lpt.h"
#include "port/RegisterPort.h"

#if defined(__x86_64__) || defined(__i386__)
#define TONDREL_HAVE_PORT_IO 1
#include <sys/io.h>
#endif

namespace tondrel {

namespace {

std::string Hex(unsigned v) {
    return "0x" + HexText(v, 1);
}

// The three addresses of the port, as the messages name them.
std::string Range(uint16_t base) {
    return Hex(base) + "-" + Hex(base + 2u);
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

Message Refused(uint16_t base, int err) {
    switch (err) {
        case EPERM:
        case EACCES:
            return Msg("PortDirectRefusedRoot", Range(base));
        case EINVAL:
            return Msg("PortDirectRefusedRange", Range(base));
        default:
            return Msg("PortDirectRefused", Range(base), std::strerror(err));
    }
}

}  // namespace

Status CheckDirectBase(uint16_t base, const std::string& ioports) {
    if (LptForBase(base) != 0) return {};
    // Lines as "  0378-037a : parport0", nested entries indented further.
    std::istringstream in(ioports);
    std::string what;
    size_t depth = 0;
    for (std::string line; std::getline(in, line);) {
        const size_t indent = line.find_first_not_of(' ');
        if (indent == std::string::npos) continue;
        unsigned from = 0, to = 0;
        char name[128] = {};
        if (std::sscanf(line.c_str() + indent, "%x-%x : %127[^\n]", &from, &to, name) != 3)
            continue;
        if (base < from || base > to) continue;
        if (from == base && std::string_view(name).starts_with("parport")) return {};
        if (what.empty() || indent >= depth) {
            what = name;
            depth = indent;
        }
    }
    return Status::Error("PortDirectNotParallel", Hex(base), what.empty() ? "-" : what);
}

bool DirectIoSupported() {
#ifdef TONDREL_HAVE_PORT_IO
    return true;
#else
    return false;
#endif
}

Result<std::unique_ptr<PortIo>> OpenDirect(uint16_t base, bool shadow, IopermFunction ioperm) {
    if (!DirectIoSupported()) return Msg("PortDirectUnsupported", Range(base));
    if (base == 0 || base > 0xFFFD) return Msg("PortDirectBadBase", Hex(base));
    if (LptForBase(base) == 0) {
        std::ifstream listed("/proc/ioports");
        const std::string text((std::istreambuf_iterator<char>(listed)), {});
        if (Status allowed = CheckDirectBase(base, text); !allowed) return allowed.Error();
    }
#ifdef TONDREL_HAVE_PORT_IO
    if (!ioperm)
        ioperm = [](unsigned long from, unsigned long num, int on) {
            return ::ioperm(from, num, on);
        };
    errno = 0;
    if (ioperm(base, 3, 1) != 0) return Refused(base, errno);
    return std::unique_ptr<PortIo>(std::make_unique<DirectPort>(base, shadow, std::move(ioperm)));
#else
    (void)shadow, (void)ioperm;
    return Msg("PortDirectUnsupported", Range(base));
#endif
}

}  // namespace tondrel
