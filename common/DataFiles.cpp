#include "common/DataFiles.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

#include "common/Version.h"

namespace tondrel {

std::string ExecutableDir() {
    std::error_code ec;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string(".") : exe.parent_path().string();
}

std::string FindDataFile(const std::string& name, const std::string& exeDir,
                         const std::string& dataDirOverride) {
    // A name that climbs out of the data folder is not a data file.
    const std::filesystem::path relative(name);
    if (name.empty() || relative.is_absolute()) return {};
    for (const auto& part : relative)
        if (part == "..") return {};
    std::vector<std::filesystem::path> candidates;
    if (!dataDirOverride.empty()) candidates.push_back(std::filesystem::path(dataDirOverride));
    if (!exeDir.empty()) candidates.push_back(std::filesystem::path(exeDir) / kDataDirFromBin);
    for (const auto& dir : candidates) {
        std::error_code ec;
        const auto path = dir / relative;
        // lexically_normal drops the "bin/.." so messages show a path a person recognises.
        if (std::filesystem::is_regular_file(path, ec)) return path.lexically_normal().string();
    }
    return {};
}

std::string FindDataFile(const std::string& name) {
    const char* overrideDir = std::getenv("TONDREL_DATA_DIR");
    return FindDataFile(name, ExecutableDir(), overrideDir ? overrideDir : "");
}

}  // namespace tondrel
