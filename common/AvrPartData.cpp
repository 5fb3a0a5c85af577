#include "common/AvrPartData.h"

#include <cctype>

namespace tondrel {

const std::vector<AvrPartData>& AllAvrParts() {
    static const std::vector<AvrPartData> parts = {
#include "common/AvrPartData.inc"
    };
    return parts;
}

const AvrPartData* FindAvrPart(const std::string& name) {
    for (const AvrPartData& p : AllAvrParts()) {
        const std::string n = p.Name;
        if (n.size() != name.size()) continue;
        bool same = true;
        for (size_t i = 0; same && i < n.size(); ++i)
            same = std::toupper(static_cast<unsigned char>(n[i])) ==
                   std::toupper(static_cast<unsigned char>(name[i]));
        if (same) return &p;
    }
    return nullptr;
}

const AvrPartData* FindAvrPart(int32_t chipId) {
    for (const AvrPartData& p : AllAvrParts())
        if (p.ChipId == chipId) return &p;
    return nullptr;
}

}  // namespace tondrel
