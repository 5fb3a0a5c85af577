// The preloaded libusb-1.0: a USB bus with the simulated FTDI chips on it, for libftdi1 and any
// other client of libusb in the program. Configured by the same TONDREL_SIM_* variables as the
// ppdev stand-in, plus:
//   TONDREL_SIM_USB        which chips are plugged in: "ft232r,ft232h" (the default), one of
//                          them, or "none"
//   TONDREL_SIM_USB_FAULT  "denied" (no permission to open) or "busy" (another driver holds it)
//   TONDREL_SIM_FTDI_PINS  how the board joins the bit-bang pins to the target (as --ftdi-pins)
// TONDREL_SIM_VANISH_AFTER counts transfers here: the chip is unplugged after that many.
#include <libusb.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "common/Text.h"
#include "preload/UsbDevice.h"

struct libusb_context {
    int Unused = 0;
};
struct libusb_device {
    size_t Model;
    uint8_t Address;
};
struct libusb_device_handle {
    libusb_device* Device;
    bool Claimed = false;
};

namespace {

using namespace tondrel;
using tondrel::preload::UsbDevice;

void Report(const std::string& text) {
    std::fprintf(stderr, "tondrel usb sim: %s\n", text.c_str());
}

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

struct ConfigBlock {
    libusb_config_descriptor Config{};
    libusb_interface Interface{};
    libusb_interface_descriptor Alt{};
    libusb_endpoint_descriptor Endpoints[2]{};
};

// The bus, built on first use from the environment; the bench comes with the first claimed
// device and stays for the life of the program, as a chip keeps its memory.
class Bus {
  public:
    Bus() {
        auto config = preload::ConfigFromEnvironment(std::getenv);
        if (!config) {
            Report(config.Error().Text(Language::English));
            broken_ = true;
            return;
        }
        config_ = std::move(config).Value();
        const std::string plugged = Lower(Env("TONDREL_SIM_USB"));
        for (size_t i = 0; i < preload::UsbChipModels().size(); ++i) {
            const char* tag = i == 0 ? "ft232r" : "ft232h";
            if (plugged.empty() || plugged.find(tag) != std::string::npos)
                devices_.push_back(libusb_device{i, static_cast<uint8_t>(2 + i)});
        }
        fault_ = Lower(Env("TONDREL_SIM_USB_FAULT"));
        auto pins = ftdi::ParsePinMap(Env("TONDREL_SIM_FTDI_PINS"));
        if (!pins) {
            Report(pins.Error().Text(Language::English));
            broken_ = true;
            return;
        }
        pins_ = *pins;
    }
    ~Bus() { Save(); }

    std::vector<libusb_device*> Present() {
        std::vector<libusb_device*> list;
        if (broken_) return list;
        for (libusb_device& d : devices_)
            if (!Gone(d)) list.push_back(&d);
        return list;
    }
    bool Gone(const libusb_device& d) const { return gone_ && opened_ == &d; }
    const std::string& Fault() const { return fault_; }

    // The chip model behind a device, with the bench wired to it; nullptr when the bench could
    // not be built (said once).
    UsbDevice* Open(libusb_device& d) {
        if (chip_ && opened_ == &d) return chip_.get();
        if (!bench_) {
            bench_ = std::make_unique<sim::Bench>(clock_, config_.Bench);
            if (!bench_->Error().Ok()) Report(bench_->Error().Text(Language::English));
        }
        if (!bench_->Error().Ok()) return nullptr;
        Save();
        opened_ = &d;
        chip_ =
            std::make_unique<UsbDevice>(preload::UsbChipModels()[d.Model], clock_, *bench_, pins_);
        return chip_.get();
    }
    // Counts a transfer on the open chip; false once it is unplugged.
    bool Transfer(libusb_device& d) {
        if (Gone(d)) return false;
        if (config_.VanishAfter != 0 && ++transfers_ > config_.VanishAfter) {
            gone_ = true;
            return false;
        }
        return true;
    }
    void Save() {
        if (!chip_) return;
        if (!config_.Bench.StateFile.empty() && bench_ && bench_->Chip() != nullptr)
            if (Status saved = bench_->SaveState(); !saved.Ok())
                Report(saved.Text(Language::English));
        if (!config_.CountsFile.empty()) {
            const preload::UsbCounts& c = chip_->Counts();
            std::ofstream out(config_.CountsFile, std::ios::trunc);
            out << "transfers " << c.Transfers << "\nbytes_out " << c.BytesOut << "\nbytes_in "
                << c.BytesIn << "\nmodel_ns " << c.ModelNs << "\n";
        }
    }

  private:
    bool broken_ = false;
    preload::DeviceConfig config_;
    std::vector<libusb_device> devices_;
    std::string fault_;
    ftdi::PinMap pins_;
    preload::UsbClock clock_;
    std::unique_ptr<sim::Bench> bench_;
    std::unique_ptr<UsbDevice> chip_;
    libusb_device* opened_ = nullptr;
    uint64_t transfers_ = 0;
    bool gone_ = false;
};

Bus& TheBus() {
    static Bus bus;
    return bus;
}

const char* kStrings[] = {"", "FTDI", nullptr, nullptr};

}  // namespace

#define EXPORT extern "C" __attribute__((visibility("default")))

EXPORT int libusb_init(libusb_context** ctx) {
    (void)TheBus();
    if (ctx) *ctx = std::make_unique<libusb_context>().release();
    return 0;
}

EXPORT void libusb_exit(libusb_context* ctx) {
    std::unique_ptr<libusb_context> gone(ctx);
}

EXPORT void libusb_set_debug(libusb_context*, int) {}

EXPORT int libusb_set_option(libusb_context*, enum libusb_option, ...) {
    return 0;
}

EXPORT const char* libusb_error_name(int code) {
    switch (code) {
        case LIBUSB_SUCCESS:
            return "LIBUSB_SUCCESS";
        case LIBUSB_ERROR_IO:
            return "LIBUSB_ERROR_IO";
        case LIBUSB_ERROR_ACCESS:
            return "LIBUSB_ERROR_ACCESS";
        case LIBUSB_ERROR_NO_DEVICE:
            return "LIBUSB_ERROR_NO_DEVICE";
        case LIBUSB_ERROR_BUSY:
            return "LIBUSB_ERROR_BUSY";
        case LIBUSB_ERROR_TIMEOUT:
            return "LIBUSB_ERROR_TIMEOUT";
        case LIBUSB_ERROR_PIPE:
            return "LIBUSB_ERROR_PIPE";
        case LIBUSB_ERROR_NOT_FOUND:
            return "LIBUSB_ERROR_NOT_FOUND";
        case LIBUSB_ERROR_NOT_SUPPORTED:
            return "LIBUSB_ERROR_NOT_SUPPORTED";
        default:
            return "LIBUSB_ERROR_OTHER";
    }
}

EXPORT const char* libusb_strerror(int code) {
    return libusb_error_name(code);
}

EXPORT ssize_t libusb_get_device_list(libusb_context*, libusb_device*** list) {
    const std::vector<libusb_device*> present = TheBus().Present();
    auto* out = static_cast<libusb_device**>(std::calloc(present.size() + 1, sizeof(void*)));
    if (!out) return LIBUSB_ERROR_NO_MEM;
    for (size_t i = 0; i < present.size(); ++i) out[i] = present[i];
    *list = out;
    return static_cast<ssize_t>(present.size());
}

EXPORT void libusb_free_device_list(libusb_device** list, int) {
    std::free(list);
}

EXPORT libusb_device* libusb_ref_device(libusb_device* d) {
    return d;
}
EXPORT void libusb_unref_device(libusb_device*) {}

EXPORT uint8_t libusb_get_bus_number(libusb_device*) {
    return 1;
}
EXPORT uint8_t libusb_get_device_address(libusb_device* d) {
    return d->Address;
}
EXPORT uint8_t libusb_get_port_number(libusb_device* d) {
    return d->Address;
}
EXPORT int libusb_get_port_numbers(libusb_device* d, uint8_t* numbers, int length) {
    if (length < 1) return LIBUSB_ERROR_OVERFLOW;
    numbers[0] = d->Address;
    return 1;
}
EXPORT libusb_device* libusb_get_device(libusb_device_handle* h) {
    return h->Device;
}

EXPORT int libusb_get_device_descriptor(libusb_device* d, libusb_device_descriptor* desc) {
    const preload::UsbChipModel& m = preload::UsbChipModels()[d->Model];
    *desc = {};
    desc->bLength = LIBUSB_DT_DEVICE_SIZE;
    desc->bDescriptorType = LIBUSB_DT_DEVICE;
    desc->bcdUSB = m.HighClock ? 0x0200 : 0x0110;
    desc->bMaxPacketSize0 = 8;
    desc->idVendor = m.Vendor;
    desc->idProduct = m.ProductId;
    desc->bcdDevice = m.Release;
    desc->iManufacturer = 1;
    desc->iProduct = 2;
    desc->iSerialNumber = 3;
    desc->bNumConfigurations = 1;
    return 0;
}

EXPORT int libusb_get_config_descriptor(libusb_device* d, uint8_t index,
                                        libusb_config_descriptor** config) {
    if (index != 0) return LIBUSB_ERROR_NOT_FOUND;
    const preload::UsbChipModel& m = preload::UsbChipModels()[d->Model];
    auto block = std::make_unique<ConfigBlock>();
    for (int i = 0; i < 2; ++i) {
        libusb_endpoint_descriptor& e = block->Endpoints[i];
        e.bLength = LIBUSB_DT_ENDPOINT_SIZE;
        e.bDescriptorType = LIBUSB_DT_ENDPOINT;
        e.bEndpointAddress = i == 0 ? 0x81 : 0x02;
        e.bmAttributes = LIBUSB_TRANSFER_TYPE_BULK;
        e.wMaxPacketSize = m.PacketSize;
    }
    block->Alt.bLength = LIBUSB_DT_INTERFACE_SIZE;
    block->Alt.bDescriptorType = LIBUSB_DT_INTERFACE;
    block->Alt.bNumEndpoints = 2;
    block->Alt.bInterfaceClass = LIBUSB_CLASS_VENDOR_SPEC;
    block->Alt.endpoint = block->Endpoints;
    block->Interface.altsetting = &block->Alt;
    block->Interface.num_altsetting = 1;
    block->Config.bLength = LIBUSB_DT_CONFIG_SIZE;
    block->Config.bDescriptorType = LIBUSB_DT_CONFIG;
    block->Config.bNumInterfaces = 1;
    block->Config.bConfigurationValue = 1;
    block->Config.MaxPower = 45;
    block->Config.interface = &block->Interface;
    *config = &block.release()->Config;
    return 0;
}

EXPORT int libusb_get_active_config_descriptor(libusb_device* d,
                                               libusb_config_descriptor** config) {
    return libusb_get_config_descriptor(d, 0, config);
}

EXPORT void libusb_free_config_descriptor(libusb_config_descriptor* config) {
    // Config is the block's first member.
    std::unique_ptr<ConfigBlock> gone(reinterpret_cast<ConfigBlock*>(config));
}

EXPORT int libusb_open(libusb_device* d, libusb_device_handle** handle) {
    if (TheBus().Gone(*d)) return LIBUSB_ERROR_NO_DEVICE;
    if (TheBus().Fault() == "denied") return LIBUSB_ERROR_ACCESS;
    *handle = std::make_unique<libusb_device_handle>(libusb_device_handle{d}).release();
    return 0;
}

EXPORT void libusb_close(libusb_device_handle* h) {
    std::unique_ptr<libusb_device_handle> gone(h);
    if (h && h->Claimed) TheBus().Save();
}

EXPORT int libusb_get_string_descriptor_ascii(libusb_device_handle* h, uint8_t index,
                                              unsigned char* data, int length) {
    const preload::UsbChipModel& m = preload::UsbChipModels()[h->Device->Model];
    const char* text = index == 1   ? kStrings[1]
                       : index == 2 ? m.Product
                       : index == 3 ? m.Serial
                                    : nullptr;
    if (!text || length <= 0) return LIBUSB_ERROR_INVALID_PARAM;
    const int n = std::min<int>(length - 1, static_cast<int>(std::strlen(text)));
    std::memcpy(data, text, static_cast<size_t>(n));
    data[n] = 0;
    return n;
}

EXPORT int libusb_get_configuration(libusb_device_handle*, int* config) {
    *config = 1;
    return 0;
}
EXPORT int libusb_set_configuration(libusb_device_handle*, int) {
    return 0;
}
EXPORT int libusb_set_auto_detach_kernel_driver(libusb_device_handle*, int) {
    return 0;
}
EXPORT int libusb_kernel_driver_active(libusb_device_handle*, int) {
    return 0;
}
EXPORT int libusb_detach_kernel_driver(libusb_device_handle*, int) {
    errno = ENODATA;  // no driver bound: as libusb says it
    return LIBUSB_ERROR_NOT_FOUND;
}
EXPORT int libusb_attach_kernel_driver(libusb_device_handle*, int) {
    return 0;
}

EXPORT int libusb_claim_interface(libusb_device_handle* h, int iface) {
    if (iface != 0) return LIBUSB_ERROR_NOT_FOUND;
    if (TheBus().Gone(*h->Device)) return LIBUSB_ERROR_NO_DEVICE;
    if (TheBus().Fault() == "busy") return LIBUSB_ERROR_BUSY;
    if (!TheBus().Open(*h->Device)) return LIBUSB_ERROR_IO;
    h->Claimed = true;
    return 0;
}

EXPORT int libusb_release_interface(libusb_device_handle* h, int) {
    if (h->Claimed) TheBus().Save();
    h->Claimed = false;
    return 0;
}

namespace {
UsbDevice* Claimed(libusb_device_handle* h) {
    if (!h || !h->Claimed || !TheBus().Transfer(*h->Device)) return nullptr;
    return TheBus().Open(*h->Device);
}
}  // namespace

EXPORT int libusb_control_transfer(libusb_device_handle* h, uint8_t requestType, uint8_t request,
                                   uint16_t value, uint16_t index, unsigned char* data,
                                   uint16_t length, unsigned int) {
    UsbDevice* chip = Claimed(h);
    if (!chip) return LIBUSB_ERROR_NO_DEVICE;
    return chip->Control(requestType, request, value, index, {data, data ? length : 0u});
}

EXPORT int libusb_bulk_transfer(libusb_device_handle* h, unsigned char endpoint,
                                unsigned char* data, int length, int* transferred, unsigned int) {
    if (transferred) *transferred = 0;
    UsbDevice* chip = Claimed(h);
    if (!chip) return LIBUSB_ERROR_NO_DEVICE;
    const auto size = static_cast<size_t>(length < 0 ? 0 : length);
    size_t n = 0;
    if (endpoint & 0x80) {
        n = chip->BulkIn({data, size});
    } else {
        n = chip->BulkOut({data, size});
    }
    if (transferred) *transferred = static_cast<int>(n);
    return (endpoint & 0x80) || n == size ? 0 : LIBUSB_ERROR_TIMEOUT;
}

// Asynchronous transfers are not simulated: a client that needs them is told so at once.
EXPORT libusb_transfer* libusb_alloc_transfer(int) {
    return nullptr;
}
EXPORT void libusb_free_transfer(libusb_transfer*) {}
EXPORT int libusb_submit_transfer(libusb_transfer*) {
    return LIBUSB_ERROR_NOT_SUPPORTED;
}
EXPORT int libusb_cancel_transfer(libusb_transfer*) {
    return LIBUSB_ERROR_NOT_FOUND;
}
EXPORT int libusb_handle_events_timeout(libusb_context*, struct timeval*) {
    return 0;
}
EXPORT int libusb_handle_events_timeout_completed(libusb_context*, struct timeval*, int*) {
    return 0;
}
EXPORT int libusb_handle_events(libusb_context*) {
    return 0;
}
EXPORT int libusb_handle_events_completed(libusb_context*, int*) {
    return 0;
}
