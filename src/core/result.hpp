// The (success flag, message) pair that passes and steps return.
#pragma once

#include <string>

namespace vaskit {

struct Result {
  bool ok = false;
  std::string message;
};

} // namespace vaskit
