// Test support: a child process stopped for good in the middle of a write, so that a test can
// kill it there and look at what the write left behind.
#pragma once

#include "core/fs.hpp"

#include <cstddef>
#include <functional>
#include <sys/types.h>

namespace vaskit::testing {

// Forks a child that runs `write` and stops for good when the write reaches `stage` with at least
// `after_bytes` written; returns the child's pid once it has stopped there. Throws when the
// child's write ends without reaching that point (the child is reaped).
pid_t child_stopped_in_write(fs::WriteStage stage, std::size_t after_bytes,
                             const std::function<void()> &write);

} // namespace vaskit::testing
