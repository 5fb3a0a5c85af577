#include "config/ConfigCommands.h"

#include <algorithm>
#include <sstream>

#include "common/AvrPartData.h"
#include "common/Text.h"
#include "config/AvrFields.h"
#include "config/Consequences.h"

namespace tondrel::config {
namespace {

std::string Hex(unsigned v, int digits) {
    return "0x" + HexText(v, digits);
}

// Exact name first; otherwise a case-insensitive match, if only one box has it.
const BoxDesc* FindBox(const GroupDesc& g, const std::string& name) {
    for (const BoxDesc& b : g.Boxes)
        if (b.Name == name) return &b;
    const BoxDesc* found = nullptr;
    for (const BoxDesc& b : g.Boxes)
        if (Lower(b.Name) == Lower(name)) {
            if (found) return nullptr;
            found = &b;
        }
    return found;
}

const GroupDesc* FindGroup(const LayoutDesc& l, const std::string& name) {
    for (const GroupDesc& g : l.Groups)
        if (g.Name == name || Lower(g.Name) == Lower(name)) return &g;
    return nullptr;
}

// Up to `maxDigits` hexadecimal digits, with or without 0x.
bool ParseHex(std::string_view text, size_t maxDigits, unsigned& value) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        text.remove_prefix(2);
    if (text.empty() || text.size() > maxDigits) return false;
    const auto number = ParseNumber(text, NumberStyle::Hex, 0, 0xFFFF);
    if (!number) return false;
    value = static_cast<unsigned>(*number);
    return true;
}

const GroupDesc* GroupOfKind(const LayoutDesc& l, GroupKind kind) {
    for (const GroupDesc& g : l.Groups)
        if (g.Kind == kind) return &g;
    return nullptr;
}

}  // namespace

std::string DescribeForm(const ConfigForm& form) {
    const LayoutDesc& l = form.Layout();
    std::ostringstream out;
    out << l.ClassName << "  " << kWindowCaption << "\n";
    for (const GroupDesc& g : l.Groups) {
        out << g.Name << "  \"" << g.Caption << "\"\n";
        if (g.Form != WriteForm::None && g.Kind != GroupKind::PicUserIds)
            out << "  " << ByteName(form.ChipName(), g) << " "
                << Hex(form.ReadValue(g.Name), g.WriteBase > 0xFF ? 4 : 2) << "\n";
        for (const AvrField& f : FieldsOfGroup(form, g)) {
            const uint8_t code = f.Code(static_cast<uint8_t>(form.ReadValue(g.Name)));
            out << "  " << f.Name << "=" << f.Digits(code);
            if (const std::string m = f.Meaning(code); !m.empty()) out << " (" << m << ")";
            std::string boxes;
            for (int bit : f.Bits)
                for (const BoxDesc& b : g.Boxes)
                    if (b.WriteMask == (1u << bit) || (b.WriteMask == 0 && b.ReadBit == bit))
                        boxes += (boxes.empty() ? "" : " ") + b.Name;
            if (!boxes.empty()) out << "  [" << boxes << "]";
            out << "\n";
        }
        for (const BoxDesc& b : g.Boxes) {
            const BoxState& s = form.Box(b.Name);
            out << "  " << b.Name << "  \"" << b.Caption << "\"  " << (s.Ticked ? "on" : "off");
            if (!s.Enabled) out << "  (disabled)";
            out << "\n";
        }
        for (size_t i = 0; i < g.Edits.size(); ++i)
            out << "  " << g.Edits[i].Name << "  \"" << g.Edits[i].Label << "\"  "
                << form.EditText(i) << "\n";
        if (g.Form != WriteForm::None && g.Kind != GroupKind::PicUserIds)
            out << "  write value " << Hex(form.ValueToWrite(g.Name), g.WriteBase > 0xFF ? 4 : 2)
                << "\n";
    }
    if (l.Modes) {
        out << l.Modes->Name << "  \"" << l.Modes->Caption << "\"\n";
        for (size_t i = 0; i < l.Modes->Modes.size(); ++i) {
            const ModeDesc& m = l.Modes->Modes[i];
            out << "  " << (i + 1) << " " << m.Name << "  \"" << m.Caption << "\""
                << (form.SelectedMode() == i ? "  (selected)" : "") << "\n";
        }
    }
    if (l.CalibrationCount > 0)
        out << "calibration: " << l.CalibrationCount << " byte"
            << (l.CalibrationCount > 1 ? "s" : "") << "\n";
    return out.str();
}

std::vector<AvrField> FieldsOfGroup(const ConfigForm& form, const GroupDesc& group) {
    const AvrPartData* part = FindAvrPart(form.ChipName());
    const auto byte = AvrByteOfGroup(group);
    std::vector<AvrField> out;
    if (!part || !byte) return out;
    for (AvrField& f : AvrFieldsOf(*part))
        if (f.Byte == *byte) out.push_back(std::move(f));
    return out;
}

uint8_t FieldCode(const ConfigForm& form, const GroupDesc& group, const AvrField& field) {
    return field.Code(static_cast<uint8_t>(form.ValueToWrite(group.Name)));
}

bool ChooseFieldValue(ConfigForm& form, const GroupDesc& group, const AvrField& field,
                      uint8_t code) {
    const uint8_t now = static_cast<uint8_t>(form.ValueToWrite(group.Name));
    const uint8_t want = field.Apply(now, code);
    // Every box to click first, so that a value the boxes cannot reach changes nothing.
    std::vector<std::string> clicks;
    for (int bit : field.Bits) {
        const uint8_t mask = static_cast<uint8_t>(1u << bit);
        if ((now & mask) == (want & mask)) continue;
        const BoxDesc* box = nullptr;
        for (const BoxDesc& b : group.Boxes)
            if (b.WriteMask == mask) box = &b;
        if (!box || !form.Box(box->Name).Enabled) return false;
        clicks.push_back(box->Name);
    }
    for (const std::string& name : clicks) form.Click(name);
    return true;
}

std::optional<unsigned> ParseUserIdIndex(std::string_view text) {
    if (text.size() == 1 && text[0] >= '0' && text[0] <= '3')
        return static_cast<unsigned>(text[0] - '0');
    if (text.size() == 6 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        const auto n = ParseNumber(text.substr(2), NumberStyle::Hex, 0x2000, 0x2003);
        if (n) return static_cast<unsigned>(*n - 0x2000);
    }
    return std::nullopt;
}

std::optional<std::string> RepeatedName(const std::vector<std::string>& settings) {
    std::vector<std::string> seen;
    for (const std::string& s : settings) {
        const std::string name = Lower(s.substr(0, s.find('=')));
        for (const std::string& n : seen)
            if (n == name) return s.substr(0, s.find('='));
        seen.push_back(name);
    }
    return std::nullopt;
}

namespace {

// One setting of `config set`, resolved to the group it changes and the bits it sets there.
struct Setting {
    const GroupDesc* Group = nullptr;
    uint16_t Mask = 0;   // bits it sets
    uint16_t Value = 0;  // their values (a 0 is a ticked box)
    std::string Name;
};

bool Binary(std::string_view text, size_t width, uint16_t& value) {
    if (text.size() != width) return false;
    value = 0;
    for (char c : text) {
        if (c != '0' && c != '1') return false;
        value = static_cast<uint16_t>(value << 1 | (c == '1'));
    }
    return true;
}

Status Resolve(const ConfigForm& form, const std::string& text, Setting& out) {
    const auto eq = text.find('=');
    if (eq == std::string::npos) return Status::Error("CfgExpectedBoxSetting", text);
    const std::string name = text.substr(0, eq), value = text.substr(eq + 1);
    out.Name = name;
    const LayoutDesc& l = form.Layout();
    const AvrPartData* part = FindAvrPart(form.ChipName());
    auto groupOf = [&l](AvrByte b) -> const GroupDesc* {
        for (const GroupDesc& g : l.Groups)
            if (AvrByteOfGroup(g) == b) return &g;
        return nullptr;
    };
    // A whole byte.
    static const std::pair<const char*, AvrByte> kBytes[] = {{"lfuse", AvrByte::Low},
                                                             {"fuse", AvrByte::Low},
                                                             {"hfuse", AvrByte::High},
                                                             {"efuse", AvrByte::Extended},
                                                             {"lock", AvrByte::Lock}};
    for (const auto& [alias, byte] : kBytes) {
        if (Lower(name) != alias) continue;
        const GroupDesc* g = groupOf(byte);
        unsigned v = 0;
        if (!g) return Status::Error("CfgNoField", name, l.ClassName);
        if (!ParseHex(value, 2, v)) return Status::Error("CfgFieldValue", name, value, "0xHH");
        out.Group = g;
        out.Mask = 0xFF;
        out.Value = static_cast<uint16_t>(v);
        return {};
    }
    // A field of the chip's part data.
    if (part) {
        for (const AvrField& f : AvrFieldsOf(*part)) {
            if (Lower(f.Name) != Lower(name)) continue;
            const GroupDesc* g = groupOf(f.Byte);
            if (!g) return Status::Error("CfgNoField", name, l.ClassName);
            uint16_t code = 0;
            if (!Binary(value, f.Bits.size(), code))
                return Status::Error("CfgFieldValue", f.Name, value,
                                     std::string(f.Bits.size(), 'b'));
            out.Group = g;
            for (int bit : f.Bits) out.Mask = static_cast<uint16_t>(out.Mask | (1u << bit));
            out.Value = f.Apply(0, static_cast<uint8_t>(code));
            return {};
        }
    }
    // A box, by its name or (outside the AVR fields) its caption.
    for (const GroupDesc& g : l.Groups) {
        const BoxDesc* box = FindBox(g, name);
        if (!box && !part)
            for (const BoxDesc& b : g.Boxes)
                if (Lower(b.Caption) == Lower(name)) box = &b;
        if (!box || box->WriteMask == 0) continue;
        // A box name takes on/off (1 = on = ticked) as `config write` does; a caption takes the
        // bit's value (0 = programmed = ticked).
        const bool byName = FindBox(g, name) != nullptr;
        const std::string v = Lower(value);
        bool ticked;
        if (v == "on" || v == "off")
            ticked = v == "on";
        else if (v == "0" || v == "1")
            ticked = (v == "1") == byName;
        else
            return Status::Error("CfgExpectedOnOff", box->Name, value);
        out.Group = &g;
        out.Mask = box->WriteMask;
        out.Value = ticked ? 0 : box->WriteMask;
        return {};
    }
    return Status::Error("CfgNoField", name, l.ClassName);
}

}  // namespace

Status SetFields(ConfigForm& form, const std::vector<std::string>& settings) {
    std::vector<Setting> resolved;
    for (const std::string& text : settings) {
        Setting s;
        if (auto ok = Resolve(form, text, s); !ok) return ok;
        // Two settings of one bit (a field and a box on it, say) contradict or repeat.
        for (const Setting& other : resolved)
            if (other.Group == s.Group && (other.Mask & s.Mask) != 0)
                return Status::Error("CfgBoxTwice", s.Name);
        resolved.push_back(s);
    }
    // The new value of each group, checked against what its boxes can say before any write.
    std::vector<std::pair<const GroupDesc*, uint16_t>> writes;
    for (const GroupDesc& g : form.Layout().Groups) {
        bool touched = false;
        uint16_t v = form.ValueToWrite(g.Name);
        for (const Setting& s : resolved) {
            if (s.Group != &g) continue;
            touched = true;
            v = static_cast<uint16_t>((v & ~s.Mask) | (s.Value & s.Mask));
        }
        if (!touched) continue;
        uint16_t boxed = 0;
        for (const BoxDesc& b : g.Boxes) {
            boxed = static_cast<uint16_t>(boxed | b.WriteMask);
            if (b.WriteMask == 0) continue;
            const bool ticked = (v & b.WriteMask) != b.WriteMask;
            const BoxState& st = form.Box(b.Name);
            if (st.Ticked != ticked && !st.Enabled)
                return Status::Error(g.Kind == GroupKind::LockBits ? "CfgBoxLocked" : "CfgBoxFixed",
                                     b.Name, b.Caption);
        }
        // A bit without a box is always written as the layout's base value.
        const uint16_t loose = static_cast<uint16_t>((v ^ g.WriteBase) & ~boxed & 0xFF);
        if (loose != 0)
            return Status::Error("CfgNotWritableBits", BitNames(form.ChipName(), g, loose),
                                 ByteName(form.ChipName(), g));
        writes.emplace_back(&g, v);
    }
    // Lock bits last: once set they may refuse the fuse writes that follow.
    std::stable_partition(writes.begin(), writes.end(),
                          [](const auto& w) { return w.first->Kind != GroupKind::LockBits; });
    // Every question before the first write: a No to the lock bits must not leave the fuses
    // written.
    for (const auto& [g, v] : writes)
        if (!form.ConfirmValue(g->Name, v)) return Status::Error("CfgCancelled");
    for (const auto& [g, v] : writes)
        if (auto written = form.WriteValue(g->Name, v, true); !written) return written;
    return {};
}

Status WriteGroupSettings(ConfigForm& form, const std::string& group,
                          const std::vector<std::string>& settings) {
    const GroupDesc* g = FindGroup(form.Layout(), group);
    if (!g) return Status::Error("CfgNoGroup", group, form.Layout().ClassName);

    // Check every setting before anything is clicked, so a typo sends nothing.
    std::vector<std::pair<const BoxDesc*, bool>> clicks;
    std::vector<const BoxDesc*> named;
    bool immediate = false;
    for (const std::string& s : settings) {
        const auto eq = s.find('=');
        if (eq == std::string::npos) return Status::Error("CfgExpectedBoxSetting", s);
        const BoxDesc* b = FindBox(*g, s.substr(0, eq));
        if (!b) return Status::Error("CfgNoBox", s.substr(0, eq), g->Name);
        // A box named twice is a mistake whatever the two values say.
        for (const BoxDesc* seen : named)
            if (seen == b) return Status::Error("CfgBoxTwice", b->Name);
        named.push_back(b);
        const std::string v = Lower(s.substr(eq + 1));
        bool on;
        if (v == "on" || v == "1")
            on = true;
        else if (v == "off" || v == "0")
            on = false;
        else
            return Status::Error("CfgExpectedOnOff", b->Name, s.substr(eq + 1));
        const BoxState& st = form.Box(b->Name);
        if (st.Ticked == on) continue;
        if (!st.Enabled)
            return Status::Error(g->Kind == GroupKind::LockBits ? "CfgBoxLocked" : "CfgBoxFixed",
                                 b->Name, b->Caption);
        immediate = immediate || b->Immediate;
        clicks.emplace_back(b, on);
    }
    if (g->Form == WriteForm::None && !immediate)
        return Status::Error("CfgGroupNotWritable", g->Name);
    if (g->Kind == GroupKind::PicUserIds) return Status::Error("CfgUseUserId");

    for (const auto& [b, on] : clicks) form.Click(b->Name);
    if (g->Form == WriteForm::None) return {};
    return form.Write(g->Name);
}

Status ApplyLockMode(ConfigForm& form, int mode) {
    const LayoutDesc& l = form.Layout();
    if (!l.Modes) return Status::Error("CfgNoModes", l.ClassName);
    if (mode < 1 || static_cast<size_t>(mode) > l.Modes->Modes.size())
        return Status::Error("CfgModeRange", l.Modes->Modes.size());
    form.SelectMode(static_cast<size_t>(mode - 1));
    return form.ApplyMode();
}

Status ReadCalibrationBytes(ConfigForm& form, Message& text) {
    if (form.Layout().CalibrationCount == 0)
        return Status::Error("CfgNoCalibration", form.Layout().ClassName);
    text = form.ReadCalibration();
    return {};
}

Status WriteUserId(ConfigForm& form, const std::string& index, const std::string& word) {
    const GroupDesc* g = GroupOfKind(form.Layout(), GroupKind::PicUserIds);
    if (!g) return Status::Error("CfgNoUserIds", form.Layout().ClassName);
    const auto parsed = ParseUserIdIndex(index);
    if (!parsed) return Status::Error("CfgUserIdIndex");
    const unsigned n = *parsed;
    unsigned value = 0;
    if (!ParseHex(word, 4, value)) return Status::Error("CfgUserIdWord");
    std::string text = word;
    if (text.size() > 2 && Lower(text.substr(0, 2)) == "0x") text = text.substr(2);
    form.SetEditText(n, text);
    return form.Write(g->Name);
}

Status WriteConfigWord(ConfigForm& form, const std::string& word) {
    const GroupDesc* g = GroupOfKind(form.Layout(), GroupKind::PicConfigWord);
    if (!g) return Status::Error("CfgNoConfigWord", form.Layout().ClassName);
    unsigned w = 0;
    if (!ParseHex(word, 4, w) || w > 0x3FFF) return Status::Error("CfgConfigWordRange");
    uint16_t result = g->WriteBase;
    for (const BoxDesc& b : g->Boxes)
        if (((w >> b.ReadBit) & 1u) == 0) result = static_cast<uint16_t>(result & ~b.WriteMask);
    if (result != w)
        return Status::Error("CfgConfigWordInexpressible", form.Layout().ClassName, Hex(w, 4),
                             Hex(result, 4));
    for (const BoxDesc& b : g->Boxes) {
        const bool on = ((w >> b.ReadBit) & 1u) == 0;
        if (form.Box(b.Name).Ticked != on) form.Click(b.Name);
    }
    return form.Write(g->Name);
}

Status EraseAll(ConfigForm& form) {
    if (form.Layout().Fam != Family::Pic)
        return Status::Error("CfgNoFullErase", form.Layout().ClassName);
    if (!form.FullErase()) return Status::Error("CfgEraseCancelled");
    return {};
}

namespace {

// The bytes of the .fuse section in the order avr-libc's FUSES struct gives them.
std::vector<AvrByte> FuseBytesOf(const AvrPartData& part) {
    std::vector<AvrByte> out;
    if (part.FuseBytes & kHasLowFuse) out.push_back(AvrByte::Low);
    if (part.FuseBytes & kHasHighFuse) out.push_back(AvrByte::High);
    if (part.FuseBytes & kHasExtFuse) out.push_back(AvrByte::Extended);
    return out;
}

// The names `config set` takes, in the order of AvrByte.
const char* SettingName(AvrByte byte) {
    static constexpr const char* kNames[] = {"lfuse", "hfuse", "efuse", "lock"};
    return kNames[static_cast<size_t>(byte)];
}

Message ByteMessage(const AvrPartData* part, AvrByte byte, uint8_t value, std::string name) {
    std::string fields;
    if (part) {
        for (const AvrField& f : AvrFieldsOf(*part)) {
            if (f.Byte != byte) continue;
            const uint8_t code = f.Code(value);
            fields += (fields.empty() ? "" : ", ") + f.Name + "=" + f.Digits(code);
            if (const std::string m = f.Meaning(code); !m.empty()) fields += " (" + m + ")";
        }
    }
    return Msg("FileConfigByte", std::move(name), HexText(value), fields);
}

}  // namespace

Result<std::vector<std::string>> FileConfigSettings(std::string_view chip, const FileConfig& file) {
    const AvrPartData* part = FindAvrPart(std::string(chip));
    if (!file.Device.empty() && Lower(file.Device) != Lower(chip)) {
        // A variant with the same signature and fuse bytes (ATmega16 and ATmega16A) is the
        // same chip to its fuses.
        const AvrPartData* built = FindAvrPart(file.Device);
        if (!part || !built || built->Signature != part->Signature ||
            built->FuseBytes != part->FuseBytes)
            return Status::Error("CoreFileConfigOtherChip", file.Device, std::string(chip));
    }
    const std::vector<AvrByte> order = part ? FuseBytesOf(*part) : std::vector<AvrByte>{};
    // Without the device note, the section's size is all that says which chip it was for.
    if (!file.Fuses.empty() && file.Fuses.size() != order.size())
        return Status::Error("CoreFileConfigSize", static_cast<int64_t>(file.Fuses.size()),
                             std::string(chip), static_cast<int64_t>(order.size()));
    std::vector<std::string> settings;
    for (size_t i = 0; i < file.Fuses.size(); ++i)
        settings.push_back(std::string(SettingName(order[i])) + "=" + Hex(file.Fuses[i], 2));
    if (file.Lock) settings.push_back(std::string("lock=") + Hex(*file.Lock, 2));
    return settings;
}

std::vector<Message> DescribeFileConfig(std::string_view chip, const FileConfig& file) {
    const AvrPartData* part = FindAvrPart(std::string(chip));
    const std::vector<AvrByte> order = part ? FuseBytesOf(*part) : std::vector<AvrByte>{};
    const bool fits = file.Fuses.size() == order.size();
    std::vector<Message> out;
    for (size_t i = 0; i < file.Fuses.size(); ++i) {
        if (fits)
            out.push_back(ByteMessage(part, order[i], file.Fuses[i], AvrByteName(*part, order[i])));
        else
            out.push_back(ByteMessage(nullptr, AvrByte::Low, file.Fuses[i],
                                      ".fuse[" + std::to_string(i) + "]"));
    }
    if (file.Lock)
        out.push_back(
            part ? ByteMessage(part, AvrByte::Lock, *file.Lock, AvrByteName(*part, AvrByte::Lock))
                 : ByteMessage(nullptr, AvrByte::Lock, *file.Lock, ".lock"));
    return out;
}

}  // namespace tondrel::config
