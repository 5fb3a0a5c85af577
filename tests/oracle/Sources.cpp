#include "tests/oracle/Sources.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>

namespace tondrel::oracle {

namespace {

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// avrdude.conf tokens: words (numbers and names), quoted strings, and the punctuation = ; ,
struct Token {
    enum Kind { Word, String, Punct } K;
    std::string Text;
};

std::vector<Token> Tokenize(const std::string& text) {
    std::vector<Token> out;
    size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c == '#') {  // comment to the end of the line
            while (i < text.size() && text[i] != '\n') ++i;
        } else if (std::isspace(static_cast<unsigned char>(c))) {
            ++i;
        } else if (c == '"') {
            const size_t end = text.find('"', i + 1);
            if (end == std::string::npos) break;
            out.push_back({Token::String, text.substr(i + 1, end - i - 1)});
            i = end + 1;
        } else if (c == '=' || c == ';' || c == ',') {
            out.push_back({Token::Punct, std::string(1, c)});
            ++i;
        } else {
            size_t end = i;
            while (end < text.size() && !std::isspace(static_cast<unsigned char>(text[end])) &&
                   text[end] != '=' && text[end] != ';' && text[end] != ',' && text[end] != '"' &&
                   text[end] != '#')
                ++end;
            out.push_back({Token::Word, text.substr(i, end - i)});
            i = end;
        }
    }
    return out;
}

// Marks a memory that a part removes from what it inherits.
const char* const kRemoved = "<removed>";

bool IsPunct(const std::vector<Token>& t, size_t i, char c) {
    return i < t.size() && t[i].K == Token::Punct && t[i].Text[0] == c;
}

// The value of "key = a b , c ;" up to the ';' (words joined by one blank, commas dropped).
std::string ValueUntilSemicolon(const std::vector<Token>& t, size_t& i) {
    std::string value;
    while (i < t.size() && !IsPunct(t, i, ';')) {
        if (!IsPunct(t, i, ',')) {
            if (!value.empty()) value += ' ';
            value += t[i].Text;
        }
        ++i;
    }
    ++i;  // the ';'
    return value;
}

// Items "key = value ;", "word value ;" (alias) and "memory "name" items ;" until a lone ';'.
void ParseItems(const std::vector<Token>& t, size_t& i, std::map<std::string, std::string>& keys,
                std::map<std::string, AvrdudeMemory>* memories) {
    while (i < t.size()) {
        if (IsPunct(t, i, ';')) {
            ++i;
            return;
        }
        const std::string word = t[i].Text;
        ++i;
        if (word == "memory" && memories && i < t.size() && t[i].K == Token::String) {
            const std::string name = t[i].Text;
            ++i;
            if (IsPunct(t, i, '=')) {  // memory "x" = NULL; removes an inherited memory
                ++i;
                if (ValueUntilSemicolon(t, i) == "NULL") (*memories)[name].Keys = {{kRemoved, ""}};
                continue;
            }
            AvrdudeMemory& m = (*memories)[name];
            ParseItems(t, i, m.Keys, nullptr);
            continue;
        }
        if (IsPunct(t, i, '=')) ++i;
        keys[word] = ValueUntilSemicolon(t, i);
    }
}

}  // namespace

std::string AvrdudeMemory::Get(const std::string& key) const {
    auto it = Keys.find(key);
    return it == Keys.end() ? std::string() : it->second;
}

std::optional<long> AvrdudeMemory::Number(const std::string& key) const {
    const std::string v = Get(key);
    if (v.empty()) return std::nullopt;
    try {
        return std::stol(v, nullptr, 0);
    } catch (...) {
        return std::nullopt;
    }
}

const AvrdudeMemory* AvrdudePart::Memory(const std::string& name) const {
    auto it = Memories.find(name);
    return it == Memories.end() ? nullptr : &it->second;
}

std::string AvrdudePart::Get(const std::string& key) const {
    auto it = Keys.find(key);
    return it == Keys.end() ? std::string() : it->second;
}

bool AvrdudeConf::Load(const std::string& path, std::string& error) {
    std::ifstream in(path);
    if (!in) {
        error = "cannot read " + path + " (package avrdude, scripts/install-deps.sh)";
        return false;
    }
    std::stringstream buffer;
    buffer << in.rdbuf();
    const std::vector<Token> t = Tokenize(buffer.str());
    size_t i = 0;
    while (i < t.size()) {
        const std::string word = t[i].Text;
        ++i;
        if (IsPunct(t, i, '=')) {  // a top-level setting
            ++i;
            ValueUntilSemicolon(t, i);
            continue;
        }
        // A block: part, programmer, serialadapter ... with an optional parent.
        std::string parent;
        if (i < t.size() && t[i].Text == "parent" && t[i].K == Token::Word) {
            ++i;
            if (i < t.size()) parent = t[i++].Text;
        }
        AvrdudePart p;
        p.Parent = parent;
        ParseItems(t, i, p.Keys, &p.Memories);
        if (word != "part") continue;
        p.Id = p.Get("id");
        if (!p.Id.empty()) parts_[p.Id] = std::move(p);
    }
    if (parts_.empty()) {
        error = "no part found in " + path;
        return false;
    }
    return true;
}

std::optional<AvrdudePart> AvrdudeConf::Resolved(const std::string& id, int depth) const {
    auto it = parts_.find(id);
    if (it == parts_.end() || depth > 10) return std::nullopt;
    const AvrdudePart& own = it->second;
    std::optional<AvrdudePart> base;
    if (!own.Parent.empty()) base = Resolved(own.Parent, depth + 1);
    if (!base) base = AvrdudePart{};
    for (const auto& [k, v] : own.Keys) base->Keys[k] = v;
    // A child that names a memory changes only the keys it gives.
    for (const auto& [name, m] : own.Memories) {
        if (m.Keys.count(kRemoved)) {
            base->Memories.erase(name);
            continue;
        }
        for (const auto& [k, v] : m.Keys) base->Memories[name].Keys[k] = v;
    }
    base->Id = own.Id;
    base->Parent = own.Parent;
    return base;
}

std::optional<AvrdudePart> AvrdudeConf::ByDesc(const std::string& name) const {
    for (const auto& [id, p] : parts_)
        if (Lower(p.Get("desc")) == Lower(name)) return Resolved(id, 0);
    return std::nullopt;
}

// ---- bit patterns ----

std::optional<BitPattern> BitPattern::Parse(const std::string& text) {
    std::string bits;
    for (char c : text)
        if (c == '0' || c == '1' || c == 'x' || c == 'a' || c == 'i' || c == 'o') bits += c;
    if (bits.size() != 32) return std::nullopt;
    BitPattern p;
    for (int n = 0; n < 4; ++n) p.Bits[n] = bits.substr(static_cast<size_t>(n) * 8, 8);
    return p;
}

bool BitPattern::Fits(const uint8_t bytes[4], int count) const {
    for (int n = 0; n < count; ++n)
        for (int b = 0; b < 8; ++b) {
            const char c = Bits[n][static_cast<size_t>(7 - b)];
            const int bit = (bytes[n] >> b) & 1;
            if ((c == '0' && bit != 0) || (c == '1' && bit != 1)) return false;
        }
    return true;
}

uint8_t BitPattern::Mask(int n, char c) const {
    uint8_t m = 0;
    for (int b = 0; b < 8; ++b)
        if (Bits[n][static_cast<size_t>(7 - b)] == c) m = static_cast<uint8_t>(m | (1u << b));
    return m;
}

int BitPattern::ValueByte() const {
    int found = -1;
    for (int n = 0; n < 4; ++n)
        if (Mask(n, 'i') != 0) {
            if (found >= 0) return -1;
            found = n;
        }
    return found;
}

// ---- avr-libc ----

AvrLibcChip ReadAvrLibc(const std::string& mcu, std::string& error) {
    AvrLibcChip chip;
    const std::string command =
        "echo '#include <avr/io.h>' | avr-gcc -mmcu=" + mcu + " -E -dD -C -x c - 2>/dev/null";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    if (!pipe) {
        error = "cannot run avr-gcc";
        return chip;
    }
    std::string text;
    std::array<char, 4096> buf{};
    size_t n = 0;
    while ((n = fread(buf.data(), 1, buf.size(), pipe.get())) > 0) text.append(buf.data(), n);
    const int status = pclose(pipe.release());
    if (status != 0 || text.empty()) {
        error = "avr-gcc -mmcu=" + mcu + " failed (gcc-avr and avr-libc, scripts/install-deps.sh)";
        return chip;
    }
    chip.Known = true;
    static const std::regex fuse(
        R"(^#define FUSE_([A-Z0-9_]+)\s+\(?(?:\(unsigned char\))?\s*~_BV\((\d)\))");
    static const std::regex size(R"(^#define FUSE_MEMORY_SIZE\s+(\d+))");
    std::optional<FuseByte> section;
    std::istringstream lines(text);
    std::string line;
    std::smatch m;
    while (std::getline(lines, line)) {
        // Most headers say "Low Fuse Byte"; some (ATmega128RFA1, ...) say "LFUSE Byte".
        if (line.find("/* Low Fuse Byte */") != std::string::npos ||
            line.find("/* LFUSE Byte */") != std::string::npos ||
            line.find("/* Fuse Byte */") != std::string::npos)
            section = FuseByte::Low;
        else if (line.find("/* High Fuse Byte */") != std::string::npos ||
                 line.find("/* HFUSE Byte */") != std::string::npos)
            section = FuseByte::High;
        else if (line.find("/* Extended Fuse Byte */") != std::string::npos ||
                 line.find("/* EFUSE Byte */") != std::string::npos)
            section = FuseByte::Extended;
        else if (line.find("/* Lock Bits */") != std::string::npos)
            section.reset();
        else if (section && std::regex_search(line, m, fuse))
            chip.Fuses[*section][std::stoi(m[2])] = m[1];
        else if (std::regex_search(line, m, size))
            chip.FuseBytes = std::stoi(m[1]);
        if (line.rfind("#define __LOCK_BITS_EXIST", 0) == 0) chip.LockBits = true;
        if (line.rfind("#define __BOOT_LOCK_BITS_0_EXIST", 0) == 0 ||
            line.rfind("#define __BOOT_LOCK_BITS_1_EXIST", 0) == 0)
            ++chip.BootLockPairs;
    }
    return chip;
}

// ---- gputils ----

std::vector<PicConfigOption> ReadGputilsConfig(const std::string& path, std::string& error) {
    std::vector<PicConfigOption> out;
    std::ifstream in(path);
    if (!in) {
        error = "cannot read " + path + " (package gputils, scripts/install-deps.sh)";
        return out;
    }
    static const std::regex equ(R"(^\s*(_[A-Za-z0-9_]+)\s+EQU\s+H'([0-9A-Fa-f]+)')");
    bool inConfig = false;
    std::string line;
    std::smatch m;
    while (std::getline(in, line)) {
        if (!std::regex_search(line, m, equ)) continue;
        const std::string name = m[1];
        const std::string upper = [&] {
            std::string u = name;
            for (char& c : u) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            return u;
        }();
        if (upper.rfind("_CONFIG", 0) == 0) {
            inConfig = true;
            continue;
        }
        if (!inConfig || upper.rfind("_DEVID", 0) == 0 || upper.rfind("_IDLOC", 0) == 0) continue;
        const auto value = static_cast<uint16_t>(std::stoul(m[2], nullptr, 16));
        out.push_back({upper, static_cast<uint16_t>(~value & 0x3FFF)});
    }
    if (out.empty()) error = "no configuration options in " + path;
    return out;
}

namespace {

// Chip, memory, operation, pattern, as the datasheet gives it.
struct Correction {
    const char *Chip, *Memory, *Op, *Pattern;
};
const Correction kAvrdudeCorrections[] = {
    // AT90S4434/8535 datasheet, serial instruction set: "Read Lock and Fuse Bits" returns
    // "12Sx xxxF" (avrdude copies the AT90S4433's reads for the 4434, and drops S on the 8535).
    {"AT90S4434", "lock", "read", "0101.1000--xxxx.xxxx--xxxx.xxxx--ooox.xxxo"},
    {"AT90S4434", "fuse", "read", "0101.1000--xxxx.xxxx--xxxx.xxxx--ooox.xxxo"},
    {"AT90S8535", "fuse", "read", "0101.1000--xxxx.xxxx--xxxx.xxxx--ooox.xxxo"},
    // ATmega161 datasheet (rev. 1228C), serial instruction set: read "xDCB 1987" (SPIEN in
    // bit 5), write "1D1B 1987" (bits 7, 5 and 3 sent as 1).
    {"ATmega161", "fuse", "read", "0101.0000--xxxx.xxxx--xxxx.xxxx--xooo.1ooo"},
    {"ATmega161", "fuse", "write", "1010.1100--101x.xxxx--xxxx.xxxx--1i1i.1iii"},
    // ATmega162: avr-libc puts M161C and BODLEVEL2..0 in extended bits 4..1, as the datasheet
    // does; avrdude's write marks bits 2..0.
    {"ATmega162", "efuse", "write", "1010.1100--1010.0100--xxxx.xxxx--111i.iii1"},
};

}  // namespace

const AvrdudeConf& InstalledAvrdude() {
    static const AvrdudeConf conf = [] {
        AvrdudeConf c;
        std::string error;
        if (!c.Load("/etc/avrdude.conf", error)) ADD_FAILURE() << error;
        return c;
    }();
    return conf;
}

void CorrectFromDatasheet(AvrdudePart& part) {
    const std::string desc = part.Get("desc");
    for (const Correction& c : kAvrdudeCorrections)
        if (desc == c.Chip) part.Memories[c.Memory].Keys[c.Op] = c.Pattern;
}

}  // namespace tondrel::oracle
