#pragma once
// Shared by the data tests: a scratch folder, file writing, loads that must succeed and chips.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "common/ChipRecord.h"
#include "data/FileLoad.h"

namespace tondrel {

// Failures print as the key and its arguments.
inline void PrintTo(const Message& m, std::ostream* os) {
    *os << m.Key << '(';
    for (size_t i = 0; i < m.Args.size(); ++i) *os << (i ? ", \"" : "\"") << m.Args[i] << '"';
    *os << ')';
}
inline void PrintTo(const Status& s, std::ostream* os) {
    PrintTo(s.Error(), os);
}

}  // namespace tondrel

namespace tondrel::testing {

class ScratchDir {
  public:
    ScratchDir() {
        Path = std::filesystem::temp_directory_path() /
               ("tondrel-data-" + std::to_string(std::random_device{}()));
        std::filesystem::remove_all(Path);
        std::filesystem::create_directories(Path);
    }
    ~ScratchDir() {
        std::error_code ec;
        std::filesystem::remove_all(Path, ec);
    }
    std::string File(const std::string& name) const { return (Path / name).string(); }
    std::string Write(const std::string& name, const std::string& content) const {
        std::ofstream(File(name), std::ios::binary) << content;
        return File(name);
    }
    std::filesystem::path Path;
};

inline std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// A load that must succeed; a failure says why in English.
inline ::testing::AssertionResult Loads(Buffers& buffers, Memory side, const std::string& path) {
    const auto loaded = LoadFile(buffers, side, path);
    if (loaded) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << loaded.Error().Text(Language::English);
}

inline CurrentChip MakeChip(Method method, int32_t flash, int32_t eeprom) {
    CurrentChip c;
    c.CurrentMethodCode = method;
    c.FlashSize = flash;
    c.EEPROMSize = eeprom;
    return c;
}

}  // namespace tondrel::testing
