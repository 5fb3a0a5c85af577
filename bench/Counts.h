#pragma once
// The counts file the preloaded libraries write when the program closes the device: one
// "NAME VALUE" line per counter.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

extern char** environ;

namespace tondrel::bench {

inline std::map<std::string, uint64_t> ReadCounts(const std::filesystem::path& path) {
    std::map<std::string, uint64_t> counts;
    std::ifstream in(path);
    std::string key;
    uint64_t value = 0;
    while (in >> key >> value) counts[key] = value;
    return counts;
}

// The environment of a child run on the preloaded device: `own` first, then this process's
// variables except those that choose the device or the preloaded library.
inline std::vector<std::string> ChildEnvironment(std::vector<std::string> own) {
    for (char** e = environ; *e; ++e) {
        const std::string v = *e;
        if (v.rfind("TONDREL_SIM_", 0) != 0 && v.rfind("LD_PRELOAD=", 0) != 0 &&
            v.rfind("ASAN_OPTIONS=", 0) != 0)
            own.push_back(v);
    }
    return own;
}

}  // namespace tondrel::bench
