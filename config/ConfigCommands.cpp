#include "config/ConfigCommands.h"

#include <sstream>

#include "common/Text.h"

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

Status WriteGroupSettings(ConfigForm& form, const std::string& group,
                          const std::vector<std::string>& settings) {
    const GroupDesc* g = FindGroup(form.Layout(), group);
    if (!g) return Status::Error("CfgNoGroup", group, form.Layout().ClassName);

    // Check every setting before anything is clicked, so a typo sends nothing.
    std::vector<std::pair<const BoxDesc*, bool>> clicks;
    bool immediate = false;
    for (const std::string& s : settings) {
        const auto eq = s.find('=');
        if (eq == std::string::npos) return Status::Error("CfgExpectedBoxSetting", s);
        const BoxDesc* b = FindBox(*g, s.substr(0, eq));
        if (!b) return Status::Error("CfgNoBox", s.substr(0, eq), g->Name);
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
    if (!form.Write(g->Name)) return Status::Error("CfgCancelled");
    return {};
}

Status ApplyLockMode(ConfigForm& form, int mode) {
    const LayoutDesc& l = form.Layout();
    if (!l.Modes) return Status::Error("CfgNoModes", l.ClassName);
    if (mode < 1 || static_cast<size_t>(mode) > l.Modes->Modes.size())
        return Status::Error("CfgModeRange", l.Modes->Modes.size());
    form.SelectMode(static_cast<size_t>(mode - 1));
    if (!form.ApplyMode()) return Status::Error("CfgCancelled");
    return {};
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
    unsigned n = 0;
    const bool address = index.size() > 2 && Lower(index.substr(0, 2)) == "0x";
    if (!ParseHex(index, 4, n)) return Status::Error("CfgUserIdIndex");
    if (address) n -= 0x2000;
    if (n > 3) return Status::Error("CfgUserIdIndex");
    unsigned value = 0;
    if (!ParseHex(word, 4, value)) return Status::Error("CfgUserIdWord");
    std::string text = word;
    if (text.size() > 2 && Lower(text.substr(0, 2)) == "0x") text = text.substr(2);
    form.SetEditText(n, text);
    form.Write(g->Name);
    return {};
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
    form.Write(g->Name);
    return {};
}

Status EraseAll(ConfigForm& form) {
    if (form.Layout().Fam != Family::Pic)
        return Status::Error("CfgNoFullErase", form.Layout().ClassName);
    if (!form.FullErase()) return Status::Error("CfgEraseCancelled");
    return {};
}

}  // namespace tondrel::config
