#pragma once
// Failures in test output and assertions as the English texts the command line prints.
#include <ostream>
#include <string>

#include "common/Status.h"

namespace tondrel {

inline std::ostream& operator<<(std::ostream& out, const Status& status) {
    return out << status.Text(Language::English);
}

template <typename T>
std::string English(const Result<T>& result) {
    return result.Error().Text(Language::English);
}
inline std::string English(const Status& status) {
    return status.Text(Language::English);
}

}  // namespace tondrel
