#include "ftdi/FtdiBackEnd.h"

#include <ftdi.h>
#include <libusb.h>

#include <memory>
#include <optional>
#include <utility>

#include "common/Text.h"
#include "core/Ports.h"
#include "ftdi/FtdiLink.h"
#include "ftdi/FtdiNames.h"

namespace tondrel::ftdi {

namespace {

// The IDs a bare "ftdi" looks for, in kKnownIds' order.
constexpr std::pair<int, int> kKnown[] = {
    {0x0403, 0x6001}, {0x0403, 0x6010}, {0x0403, 0x6011}, {0x0403, 0x6014}, {0x0403, 0x6015}};

struct FtdiFree {
    void operator()(ftdi_context* c) const { ftdi_free(c); }
};
using Context = std::unique_ptr<ftdi_context, FtdiFree>;

struct DeviceList {
    libusb_device** Devices = nullptr;
    ssize_t Count = 0;
    explicit DeviceList(libusb_context* usb) : Count(libusb_get_device_list(usb, &Devices)) {}
    ~DeviceList() {
        if (Count >= 0) libusb_free_device_list(Devices, 1);
    }
    DeviceList(const DeviceList&) = delete;
    DeviceList& operator=(const DeviceList&) = delete;
};

bool Wanted(const DeviceChoice& choice, const libusb_device_descriptor& d) {
    if (choice.Vendor != 0) return d.idVendor == choice.Vendor && d.idProduct == choice.Product;
    for (const auto& [v, p] : kKnown)
        if (d.idVendor == v && d.idProduct == p) return true;
    return false;
}

std::string IdText(const libusb_device_descriptor& d) {
    return Lower(HexText(d.idVendor, 4)) + ":" + Lower(HexText(d.idProduct, 4));
}

// The serial number of a device, read through a handle of its own; nullopt when it cannot be
// opened, with libusb's code.
std::optional<std::string> SerialOf(libusb_device* device, const libusb_device_descriptor& d,
                                    int& code) {
    libusb_device_handle* handle = nullptr;
    code = libusb_open(device, &handle);
    if (code != 0) return std::nullopt;
    std::string serial;
    unsigned char text[128] = {};
    if (d.iSerialNumber != 0 &&
        libusb_get_string_descriptor_ascii(handle, d.iSerialNumber, text, sizeof text) > 0)
        serial = reinterpret_cast<const char*>(text);
    libusb_close(handle);
    return serial;
}

class FtdiSet : public core::PortSet {
  public:
    FtdiSet(Context context, const ChipKind& kind, const PinMap& pins, std::string device)
        : context_(std::move(context)),
          empty_(core::MakeEmptyPort()),
          device_(std::move(device)),
          kind_(kind),
          link_(*context_, kind, pins, device_) {}
    ~FtdiSet() override { (void)Close(); }

    Status Start() { return link_.Start(); }

    PortIo& At(int32_t) override { return *empty_; }
    Clock& GetClock() override { return clock_; }
    std::string Describe() const override {
        return std::string("FTDI ") + kind_.Name + " " + device_;
    }
    bool Simulated() const override { return false; }
    int32_t HomeBase() const override { return BaseForLpt(1); }
    Status TakeError() override { return link_.TakeError(); }
    SerialLink* Link() override { return &link_; }
    Status Close() override {
        if (!open_) return {};
        open_ = false;
        link_.Stop();
        (void)ftdi_usb_close(context_.get());
        return {};
    }

  private:
    Context context_;
    std::unique_ptr<PortIo> empty_;
    std::string device_;
    const ChipKind& kind_;
    FtdiLink link_;
    SystemClock clock_;
    bool open_ = true;
};

Result<std::unique_ptr<core::PortSet>> OpenFtdi(const core::PortOptions& options) {
    auto choice = ParseDeviceName(options.Port);
    if (!choice) return choice.GetStatus();
    auto pins = ParsePinMap(options.PinMap);
    if (!pins) return pins.GetStatus();
    Context context(ftdi_new());
    if (!context) return Msg("PortFtdiFailed", options.Port, "ftdi_new");
    if (ftdi_set_interface(context.get(), INTERFACE_A) < 0)
        return Msg("PortFtdiFailed", options.Port, ftdi_get_error_string(context.get()));

    // The device is looked for here rather than by libftdi1, so that a refused open and a
    // claimed interface can be told apart and said with their fixes.
    DeviceList list(context->usb_ctx);
    libusb_device* found = nullptr;
    std::string name;
    std::optional<Status> refused;
    for (ssize_t i = 0; i < list.Count && !found; ++i) {
        libusb_device_descriptor d{};
        if (libusb_get_device_descriptor(list.Devices[i], &d) != 0 || !Wanted(*choice, d)) continue;
        int code = 0;
        const auto serial = SerialOf(list.Devices[i], d, code);
        const std::string id = IdText(d) + (serial && !serial->empty() ? ":" + *serial : "");
        if (!serial) {
            if (!refused)
                refused = code == LIBUSB_ERROR_ACCESS
                              ? Status::Error("PortFtdiDenied", id)
                              : Status::Error("PortFtdiFailed", id, libusb_error_name(code));
            continue;
        }
        if (!choice->Serial.empty() && *serial != choice->Serial) continue;
        found = list.Devices[i];
        name = "ftdi:" + id;
    }
    if (!found) return refused ? *refused : Msg("PortFtdiNoDevice", choice->IdsText());
    if (const int r = ftdi_usb_open_dev(context.get(), found); r < 0) {
        if (r == -5) return Msg("PortFtdiBusy", name);
        return Msg("PortFtdiFailed", name, ftdi_get_error_string(context.get()));
    }
    const ChipKind& kind = KindOfType(context->type);
    auto set = std::make_unique<FtdiSet>(std::move(context), kind, *pins, name);
    if (Status started = set->Start(); !started.Ok()) return started;
    return std::unique_ptr<core::PortSet>(std::move(set));
}

std::vector<core::PortChoice> ListFtdi() {
    std::vector<core::PortChoice> found;
    Context context(ftdi_new());
    if (!context) return found;
    DeviceList list(context->usb_ctx);
    for (ssize_t i = 0; i < list.Count; ++i) {
        libusb_device_descriptor d{};
        if (libusb_get_device_descriptor(list.Devices[i], &d) != 0 || !Wanted({}, d)) continue;
        int code = 0;
        const auto serial = SerialOf(list.Devices[i], d, code);
        std::string port = "ftdi:" + IdText(d);
        if (serial && !serial->empty()) port += ":" + *serial;
        found.push_back({port, "FTDI " + IdText(d) + (serial ? "" : " (no access)")});
    }
    return found;
}

Status CheckFtdiName(const std::string& port) {
    return ParseDeviceName(port).GetStatus();
}

}  // namespace

void RegisterFtdiBackEnd() {
    core::RegisterPortBackEnd({"ftdi", OpenFtdi, CheckFtdiName});
    core::RegisterPortLister("ftdi", ListFtdi);
}

}  // namespace tondrel::ftdi
