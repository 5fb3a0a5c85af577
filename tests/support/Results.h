#pragma once
// The value of an operation a test expects to succeed: a failure fails the test and names its
// message key instead of reading an empty result.
#include <gtest/gtest.h>

#include <ostream>

#include "common/Status.h"

namespace tondrel {
// gtest shows a failed comparison's status by its key and arguments.
inline void PrintTo(const Status& status, std::ostream* os) {
    *os << (status.Ok() ? "fine" : status.Key());
    for (const std::string& arg : status.Error().Args) *os << " " << arg;
}
}  // namespace tondrel

namespace tondrel::testsupport {

template <typename T>
T Got(const Result<T>& result) {
    EXPECT_TRUE(result.Ok()) << result.Error().Key;
    return result.ValueOr(T{});
}

}  // namespace tondrel::testsupport
