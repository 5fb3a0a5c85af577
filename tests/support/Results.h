#pragma once
// Outcomes in tests: the value of an operation a test expects to succeed (a failure fails the
// test and names itself instead of reading an empty result), and failures shown in test output
// as the English texts the command line prints.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "common/Status.h"

namespace tondrel {

// gtest shows a failed comparison's status by its key and arguments.
inline void PrintTo(const Status& status, std::ostream* os) {
    *os << (status.Ok() ? "fine" : status.Key());
    for (const std::string& arg : status.Error().Args) *os << " " << arg;
}

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

namespace tondrel::testsupport {

template <typename T>
T Got(Result<T> result) {
    EXPECT_TRUE(result.Ok()) << result.Error().Text(Language::English);
    return result.Ok() ? std::move(result).Value() : T{};
}

}  // namespace tondrel::testsupport
