#include "support/stopped_write.hpp"

#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace vaskit::testing {

pid_t child_stopped_in_write(fs::WriteStage stage, std::size_t after_bytes,
                             const std::function<void()> &write) {
  int ready[2];
  if (::pipe(ready) != 0)
    throw std::runtime_error("pipe failed");
  const pid_t pid = ::fork();
  if (pid < 0)
    throw std::runtime_error("fork failed");
  if (pid == 0) {
    ::close(ready[0]);
    const fs::ScopedWriteHook stop([&](fs::WriteStage s, std::size_t written) {
      if (s == stage && written >= after_bytes) {
        const char byte = 1;
        [[maybe_unused]] const auto n = ::write(ready[1], &byte, 1);
        while (true)
          ::pause();
      }
    });
    try {
      write();
    } catch (...) {
    }
    ::_exit(3); // never stopped: the parent sees no byte
  }
  ::close(ready[1]);
  char byte = 0;
  const auto n = ::read(ready[0], &byte, 1);
  ::close(ready[0]);
  if (n != 1) {
    ::waitpid(pid, nullptr, 0);
    throw std::runtime_error("the child's write finished without stopping");
  }
  return pid;
}

} // namespace vaskit::testing
