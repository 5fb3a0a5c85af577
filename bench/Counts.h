#pragma once
// The counts file the preloaded libraries write when the program closes the device: one
// "NAME VALUE" line per counter.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

namespace tondrel::bench {

inline std::map<std::string, uint64_t> ReadCounts(const std::filesystem::path& path) {
    std::map<std::string, uint64_t> counts;
    std::ifstream in(path);
    std::string key;
    uint64_t value = 0;
    while (in >> key >> value) counts[key] = value;
    return counts;
}

}  // namespace tondrel::bench
