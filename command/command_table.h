// The command table of the velmar package (names in registration order).
// A command is registered only when its operation is bound; the table keeps
// every name so that the registration order and the object-command method
// lists stay fixed while the bindings grow.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <vector>

namespace velmar {

inline constexpr std::size_t kCommandCount = 219;

// Tech attribute set/get commands, new_Tech, the Tech methods, delete_Tech,
// Tech; then the same for API.
const std::array<const char*, kCommandCount>& CommandTable();
std::vector<std::string> CommandTableNames();

}  // namespace velmar
