#pragma once
// Shared by the data tests: a scratch folder, file writing, a message-board recorder and chips.
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "common/ChipRecord.h"
#include "data/FileLoad.h"

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

struct Board {
    std::vector<std::string> Lines;
    BoardSink Sink() {
        return [this](const std::string& s) { Lines.push_back(s); };
    }
    const std::string& Last() const { return Lines.back(); }
};

inline CurrentChip MakeChip(Method method, int32_t flash, int32_t eeprom) {
    CurrentChip c;
    c.CurrentMethodCode = method;
    c.FlashSize = flash;
    c.EEPROMSize = eeprom;
    return c;
}

}  // namespace tondrel::testing
