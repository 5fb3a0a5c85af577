#include "core/RunLog.h"

#include <array>
#include <cstdio>
#include <fstream>

namespace tondrel::core {

namespace {

// The length of the UTF-8 sequence at text[i], 0 when it is not one (overlong forms, surrogates
// and values past U+10FFFF included).
size_t Utf8Length(std::string_view text, size_t i) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char c = byte(i);
    size_t n = 0;
    uint32_t value = 0;
    if (c < 0x80) return 1;
    if ((c & 0xE0) == 0xC0) {
        n = 2;
        value = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
        n = 3;
        value = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
        n = 4;
        value = c & 0x07;
    } else {
        return 0;
    }
    if (i + n > text.size()) return 0;
    for (size_t k = 1; k < n; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
        value = value << 6 | (byte(i + k) & 0x3F);
    }
    constexpr uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    if (value < kLeast[n] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
    return n;
}

std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", value);
    return text;
}

// Fields joined as "key":value; the values are JSON already.
class Object {
  public:
    Object& Add(std::string_view key, const std::string& json) {
        text_ += text_.empty() ? "{" : ",";
        text_ += JsonString(key) + ":" + json;
        return *this;
    }
    Object& Text(std::string_view key, std::string_view value) {
        return Add(key, JsonString(value));
    }
    Object& Int(std::string_view key, int64_t value) { return Add(key, std::to_string(value)); }
    std::string Line() const { return text_ + "}\n"; }

  private:
    std::string text_;
};

}  // namespace

std::string JsonString(std::string_view text) {
    std::string out = "\"";
    for (size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        const size_t n = Utf8Length(text, i);
        if (n == 0) {
            out += "\\ufffd";
            ++i;
            continue;
        }
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out.append(text.substr(i, n));
        }
        i += n;
    }
    return out + "\"";
}

std::string JsonLine(const OperationRecord& r) {
    std::string files = "[";
    for (const FileDigest& f : r.Files) {
        if (files.size() > 1) files += ",";
        char crc[16] = "null";
        if (f.Crc32) std::snprintf(crc, sizeof crc, "\"%08x\"", *f.Crc32);
        files += Object().Text("memory", f.Memory).Text("path", f.Path).Add("crc32", crc).Line();
        files.pop_back();  // the object's line end
    }
    files += "]";
    Object o;
    o.Text("type", "operation").Text("operation", r.Operation);
    if (r.Chip > 0) o.Int("chip_number", r.Chip);
    o.Text("chip", r.ChipName)
        .Text("signature", r.Signature)
        .Add("files", files)
        .Int("bytes_written", r.BytesWritten)
        .Int("bytes_verified", r.BytesVerified)
        .Int("speed", r.Speed)
        .Add("serial", r.Serial ? std::to_string(*r.Serial) : "null")
        .Text("result", r.Result);
    if (!r.ErrorKey.empty()) o.Text("error", r.ErrorKey).Text("message", r.ErrorText);
    return o.Add("duration_s", Number(r.Seconds)).Line();
}

std::string JsonLine(const RunSummary& s) {
    std::string serials = "[";
    for (int64_t v : s.Serials) serials += (serials.size() > 1 ? "," : "") + std::to_string(v);
    serials += "]";
    return Object()
        .Text("type", "summary")
        .Int("operations", s.Operations)
        .Int("passed", s.Passed)
        .Int("failed", s.Failed)
        .Add("serials", serials)
        .Text("result", s.Result)
        .Int("exit_status", s.ExitStatus)
        .Add("duration_s", Number(s.Seconds))
        .Line();
}

uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc) {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) != 0 ? 0xEDB88320U ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    crc = ~crc;
    for (size_t i = 0; i < size; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

std::optional<uint32_t> FileCrc32(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    uint32_t crc = 0;
    std::array<char, 65536> chunk{};
    while (in.read(chunk.data(), chunk.size()) || in.gcount() > 0) {
        crc = Crc32(reinterpret_cast<const uint8_t*>(chunk.data()),
                    static_cast<size_t>(in.gcount()), crc);
        if (in.eof()) break;
    }
    if (in.bad()) return std::nullopt;
    return crc;
}

void PhaseCounter::EndPhase() {
    if (key_.rfind("PhaseWrite", 0) == 0) counts_.Written += position_;
    if (key_.rfind("PhaseVerify", 0) == 0) counts_.Verified += position_;
    key_.clear();
    position_ = 0;
}

void PhaseCounter::Phase(const Message& phase) {
    EndPhase();
    key_ = phase.Key;
}

PhaseCounter::Counts PhaseCounter::Take() {
    EndPhase();
    const Counts counts = counts_;
    counts_ = {};
    return counts;
}

}  // namespace tondrel::core
