#include "config/ConfigCommands.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <sstream>

namespace tondrel::config {
namespace {

CommandResult Fail(std::string why) {
    return {false, std::move(why)};
}

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

std::string Hex(unsigned v, int digits) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%0*X", digits, v);
    return buf;
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
bool ParseHex(std::string text, size_t maxDigits, unsigned& value) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        text = text.substr(2);
    if (text.empty() || text.size() > maxDigits) return false;
    value = 0;
    for (char c : text) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
        value = value * 16 + HexDigitValue(c);
    }
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

CommandResult WriteGroupSettings(ConfigForm& form, const std::string& group,
                                 const std::vector<std::string>& settings) {
    const GroupDesc* g = FindGroup(form.Layout(), group);
    if (!g) return Fail("no group " + group + " in " + form.Layout().ClassName);

    // Check every setting before anything is clicked, so a typo sends nothing.
    std::vector<std::pair<const BoxDesc*, bool>> clicks;
    bool immediate = false;
    for (const std::string& s : settings) {
        const auto eq = s.find('=');
        if (eq == std::string::npos) return Fail("expected BOX=on|off, got " + s);
        const BoxDesc* b = FindBox(*g, s.substr(0, eq));
        if (!b) return Fail("no box " + s.substr(0, eq) + " in group " + g->Name);
        const std::string v = Lower(s.substr(eq + 1));
        bool on;
        if (v == "on" || v == "1")
            on = true;
        else if (v == "off" || v == "0")
            on = false;
        else
            return Fail("expected on or off for " + b->Name + ", got " + s.substr(eq + 1));
        const BoxState& st = form.Box(b->Name);
        if (st.Ticked == on) continue;
        if (!st.Enabled)
            return Fail("box " + b->Name + " (" + b->Caption + ") cannot be changed: " +
                        (g->Kind == GroupKind::LockBits
                             ? "a programmed lock bit returns to 1 only through a chip erase"
                             : "the layout fixes it"));
        immediate = immediate || b->Immediate;
        clicks.emplace_back(b, on);
    }
    if (g->Form == WriteForm::None && !immediate)
        return Fail("group " + g->Name + " cannot be written");
    if (g->Kind == GroupKind::PicUserIds) return Fail("use userid for the user IDs");

    for (const auto& [b, on] : clicks) form.Click(b->Name);
    if (g->Form == WriteForm::None) return {};
    if (!form.Write(g->Name)) return Fail("cancelled, nothing written");
    return {};
}

CommandResult ApplyLockMode(ConfigForm& form, int mode) {
    const LayoutDesc& l = form.Layout();
    if (!l.Modes) return Fail(l.ClassName + " has no protection modes");
    if (mode < 1 || static_cast<size_t>(mode) > l.Modes->Modes.size())
        return Fail("mode must be 1 to " + std::to_string(l.Modes->Modes.size()));
    form.SelectMode(static_cast<size_t>(mode - 1));
    if (!form.ApplyMode()) return Fail("cancelled, nothing written");
    return {};
}

CommandResult ReadCalibrationBytes(ConfigForm& form, std::string& text) {
    if (form.Layout().CalibrationCount == 0)
        return Fail(form.Layout().ClassName + " reads no calibration bytes");
    text = form.ReadCalibration();
    return {};
}

CommandResult WriteUserId(ConfigForm& form, const std::string& index, const std::string& word) {
    const GroupDesc* g = GroupOfKind(form.Layout(), GroupKind::PicUserIds);
    if (!g) return Fail(form.Layout().ClassName + " has no user IDs");
    unsigned n = 0;
    const bool address = index.size() > 2 && Lower(index.substr(0, 2)) == "0x";
    if (!ParseHex(index, 4, n)) return Fail("user ID index must be 0..3 or 0x2000..0x2003");
    if (address) n -= 0x2000;
    if (n > 3) return Fail("user ID index must be 0..3 or 0x2000..0x2003");
    unsigned value = 0;
    if (!ParseHex(word, 4, value)) return Fail("user ID word must be 1 to 4 hexadecimal digits");
    std::string text = word;
    if (text.size() > 2 && Lower(text.substr(0, 2)) == "0x") text = text.substr(2);
    form.SetEditText(n, text);
    form.Write(g->Name);
    return {};
}

CommandResult WriteConfigWord(ConfigForm& form, const std::string& word) {
    const GroupDesc* g = GroupOfKind(form.Layout(), GroupKind::PicConfigWord);
    if (!g) return Fail(form.Layout().ClassName + " has no configuration word");
    unsigned w = 0;
    if (!ParseHex(word, 4, w) || w > 0x3FFF)
        return Fail("configuration word must be 0x0000 to 0x3FFF");
    uint16_t result = g->WriteBase;
    for (const BoxDesc& b : g->Boxes)
        if (((w >> b.ReadBit) & 1u) == 0) result = static_cast<uint16_t>(result & ~b.WriteMask);
    if (result != w)
        return Fail("the boxes of " + form.Layout().ClassName + " cannot express " + Hex(w, 4) +
                    "; the nearest word is " + Hex(result, 4));
    for (const BoxDesc& b : g->Boxes) {
        const bool on = ((w >> b.ReadBit) & 1u) == 0;
        if (form.Box(b.Name).Ticked != on) form.Click(b.Name);
    }
    form.Write(g->Name);
    return {};
}

CommandResult EraseAll(ConfigForm& form) {
    if (form.Layout().Fam != Family::Pic)
        return Fail(form.Layout().ClassName + " has no full erase");
    if (!form.FullErase()) return Fail("cancelled, nothing erased");
    return {};
}

}  // namespace tondrel::config
