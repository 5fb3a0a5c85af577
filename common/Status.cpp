#include "common/Status.h"

namespace tondrel {

std::string Message::Text(Language lang) const {
    if (Key.empty()) return {};
    return FormatList(Tr(Key, lang), Args);
}

}  // namespace tondrel
