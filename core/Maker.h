#pragma once
// Who makes this program and where its users find help. The project has no web site, so the
// address is the user manual the package installs; the window shows both in its caption, its
// about box and its link button, and the session in the Altera cable banner.
#include <string_view>

namespace tondrel::core {

inline constexpr std::string_view kMakerName = "tondrel project";
inline constexpr std::string_view kMakerAddress = "file:///usr/share/tondrel/manual.html";

}  // namespace tondrel::core
