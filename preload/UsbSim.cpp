// The preloaded libusb-1.0: a USB bus with the simulated FTDI chips on it, for libftdi1 and any
// other client of libusb in the program. Configured by the same TONDREL_SIM_* variables as the
// ppdev stand-in, plus:
//   TONDREL_SIM_USB        which chips are plugged in: "ft232r,ft232h" (the default), one of
//                          them, or "none"
//   TONDREL_SIM_USB_FAULT  "denied" (no permission to open) or "busy" (another driver holds it)
//   TONDREL_SIM_FTDI_PINS  how the board joins the bit-bang pins to the target (as --ftdi-pins)
// TONDREL_SIM_VANISH_AFTER counts transfers here: the chip is unplugged after that many.
#include <fcntl.h>
#include <libusb.h>
#include <unistd.h>

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

// ---- the same bus through the libusb-0.1 interface (libftdi 0.x and the programs built on it)

#include <usb.h>

// libusb-0.1's handle begins with the usbfs descriptor, and libftdi 0.x waits on it when it
// closes: a /dev/null descriptor stands in, always writable, with nothing to reap.
struct usb_dev_handle {
    int Fd;
    libusb_device_handle* Handle;
};

namespace {

// The bus as libusb-0.1 lists it, rebuilt by usb_find_devices.
struct LegacyBus {
    struct Entry {
        struct usb_device Device {};
        usb_config_descriptor Config{};
        usb_interface Interface{};
        usb_interface_descriptor Alt{};
        usb_endpoint_descriptor Endpoints[2]{};
        libusb_device* Source = nullptr;
    };
    usb_bus Bus{};
    std::vector<std::unique_ptr<Entry>> Entries;

    void Scan() {
        Entries.clear();
        for (libusb_device* d : TheBus().Present()) {
            auto e = std::make_unique<Entry>();
            libusb_device_descriptor desc{};
            libusb_get_device_descriptor(d, &desc);
            std::memcpy(&e->Device.descriptor, &desc, sizeof e->Device.descriptor);
            std::snprintf(e->Device.filename, sizeof e->Device.filename, "%03u",
                          unsigned{d->Address});
            e->Device.devnum = d->Address;
            e->Device.bus = &Bus;
            const uint16_t packet = preload::UsbChipModels()[d->Model].PacketSize;
            for (int i = 0; i < 2; ++i) {
                e->Endpoints[i].bLength = USB_DT_ENDPOINT_SIZE;
                e->Endpoints[i].bDescriptorType = USB_DT_ENDPOINT;
                e->Endpoints[i].bEndpointAddress = i == 0 ? 0x81 : 0x02;
                e->Endpoints[i].bmAttributes = USB_ENDPOINT_TYPE_BULK;
                e->Endpoints[i].wMaxPacketSize = packet;
            }
            e->Alt.bNumEndpoints = 2;
            e->Alt.endpoint = e->Endpoints;
            e->Interface.altsetting = &e->Alt;
            e->Interface.num_altsetting = 1;
            e->Config.bNumInterfaces = 1;
            e->Config.bConfigurationValue = 1;
            e->Config.interface = &e->Interface;
            e->Device.config = &e->Config;
            e->Source = d;
            Entries.push_back(std::move(e));
        }
        for (size_t i = 0; i < Entries.size(); ++i) {
            Entries[i]->Device.next = i + 1 < Entries.size() ? &Entries[i + 1]->Device : nullptr;
            Entries[i]->Device.prev = i > 0 ? &Entries[i - 1]->Device : nullptr;
        }
        std::snprintf(Bus.dirname, sizeof Bus.dirname, "001");
        Bus.devices = Entries.empty() ? nullptr : &Entries.front()->Device;
    }
    libusb_device* SourceOf(const struct usb_device* device) {
        for (auto& e : Entries)
            if (&e->Device == device) return e->Source;
        return nullptr;
    }
};

LegacyBus& TheLegacyBus() {
    static LegacyBus bus;
    return bus;
}

// libusb-0.1 says failures as minus an errno.
int LegacyError(int code) {
    switch (code) {
        case LIBUSB_ERROR_ACCESS:
            return -EPERM;
        case LIBUSB_ERROR_NO_DEVICE:
            return -ENODEV;
        case LIBUSB_ERROR_BUSY:
            return -EBUSY;
        case LIBUSB_ERROR_TIMEOUT:
            return -ETIMEDOUT;
        case LIBUSB_ERROR_PIPE:
            return -EPIPE;
        default:
            return -EIO;
    }
}

}  // namespace

EXPORT void usb_init() {
    (void)TheBus();
}
EXPORT int usb_find_busses() {
    return 1;
}
EXPORT int usb_find_devices() {
    TheLegacyBus().Scan();
    return static_cast<int>(TheLegacyBus().Entries.size());
}
EXPORT usb_bus* usb_get_busses() {
    return &TheLegacyBus().Bus;
}
EXPORT char* usb_strerror() {
    static char text[] = "simulated USB failure";
    return text;
}

EXPORT usb_dev_handle* usb_open(struct usb_device* device) {
    libusb_device* source = TheLegacyBus().SourceOf(device);
    libusb_device_handle* handle = nullptr;
    if (!source || libusb_open(source, &handle) != 0) return nullptr;
    return std::make_unique<usb_dev_handle>(usb_dev_handle{::open("/dev/null", O_RDWR), handle})
        .release();
}
EXPORT int usb_close(usb_dev_handle* h) {
    std::unique_ptr<usb_dev_handle> gone(h);
    if (!h) return 0;
    if (h->Fd >= 0) ::close(h->Fd);
    libusb_close(h->Handle);
    return 0;
}
EXPORT struct usb_device* usb_device(usb_dev_handle* h) {
    for (auto& e : TheLegacyBus().Entries)
        if (e->Source == h->Handle->Device) return &e->Device;
    return nullptr;
}
EXPORT int usb_get_string_simple(usb_dev_handle* h, int index, char* buf, size_t length) {
    const int n = libusb_get_string_descriptor_ascii(h->Handle, static_cast<uint8_t>(index),
                                                     reinterpret_cast<unsigned char*>(buf),
                                                     static_cast<int>(length));
    return n < 0 ? LegacyError(n) : n;
}
EXPORT int usb_set_configuration(usb_dev_handle*, int) {
    return 0;
}
EXPORT int usb_detach_kernel_driver_np(usb_dev_handle*, int) {
    return -ENODATA;
}
EXPORT int usb_reset(usb_dev_handle*) {
    return 0;
}
EXPORT int usb_claim_interface(usb_dev_handle* h, int iface) {
    const int r = libusb_claim_interface(h->Handle, iface);
    return r < 0 ? LegacyError(r) : 0;
}
EXPORT int usb_release_interface(usb_dev_handle* h, int iface) {
    return libusb_release_interface(h->Handle, iface);
}
EXPORT int usb_control_msg(usb_dev_handle* h, int requestType, int request, int value, int index,
                           char* bytes, int size, int timeout) {
    const int r = libusb_control_transfer(
        h->Handle, static_cast<uint8_t>(requestType), static_cast<uint8_t>(request),
        static_cast<uint16_t>(value), static_cast<uint16_t>(index),
        reinterpret_cast<unsigned char*>(bytes), static_cast<uint16_t>(size),
        static_cast<unsigned>(timeout));
    return r < 0 ? LegacyError(r) : r;
}
EXPORT int usb_bulk_write(usb_dev_handle* h, int ep, const char* bytes, int size, int timeout) {
    int done = 0;
    // The OUT endpoint only reads the bytes.
    const int r = libusb_bulk_transfer(h->Handle, static_cast<unsigned char>(ep & 0x7F),
                                       reinterpret_cast<unsigned char*>(const_cast<char*>(bytes)),
                                       size, &done, static_cast<unsigned>(timeout));
    return r < 0 && done == 0 ? LegacyError(r) : done;
}
EXPORT int usb_bulk_read(usb_dev_handle* h, int ep, char* bytes, int size, int timeout) {
    int done = 0;
    const int r = libusb_bulk_transfer(h->Handle, static_cast<unsigned char>(ep | 0x80),
                                       reinterpret_cast<unsigned char*>(bytes), size, &done,
                                       static_cast<unsigned>(timeout));
    return r < 0 ? LegacyError(r) : done;
}
EXPORT int usb_interrupt_write(usb_dev_handle*, int, const char*, int, int) {
    return -EIO;
}
EXPORT int usb_interrupt_read(usb_dev_handle*, int, char*, int, int) {
    return -EIO;
}
