#include <algorithm>
#include <cctype>

#include "sim/TargetChip.h"

namespace tondrel::sim {

// Each chip family builds its own models; a family answers nullptr for a name it does not know.
std::unique_ptr<TargetChip> CreateAt89s5xChip(const std::string& upperName);
std::unique_ptr<TargetChip> CreateAvrChip(const std::string& upperName);
std::unique_ptr<TargetChip> CreateAt89OtherChip(const std::string& upperName);
std::unique_ptr<TargetChip> CreatePicChip(const std::string& upperName);

std::unique_ptr<TargetChip> CreateChip(const std::string& name) {
    std::string upper = name;
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    for (auto* make : {CreateAt89s5xChip, CreateAvrChip, CreateAt89OtherChip, CreatePicChip}) {
        if (auto chip = make(upper)) return chip;
    }
    return nullptr;
}

}  // namespace tondrel::sim
