// Test support: a FIFO for code that must refuse one instead of waiting for a writer. A reader
// that opens it waits until some process opens the writing end; past a time limit a watchdog
// does that (and closes it again at once), so the reader sees end of file and the test fails
// instead of hanging. Header-only.
#pragma once

#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <stdexcept>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace vaskit::testing {

class Fifo {
public:
  explicit Fifo(std::filesystem::path path,
                std::chrono::milliseconds limit = std::chrono::milliseconds(3000))
      : path_(std::move(path)) {
    if (::mkfifo(path_.c_str(), 0644) != 0)
      throw std::runtime_error("mkfifo failed: " + path_.string());
    watchdog_ = std::thread([this, limit] {
      const auto deadline = std::chrono::steady_clock::now() + limit;
      while (!stop_) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (std::chrono::steady_clock::now() < deadline)
          continue;
        // Succeeds only while some reader has the FIFO open or waits in open().
        const int fd = ::open(path_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) {
          released_ = true;
          ::close(fd);
        }
      }
    });
  }
  ~Fifo() {
    stop_ = true;
    watchdog_.join();
  }
  Fifo(const Fifo &) = delete;
  Fifo &operator=(const Fifo &) = delete;

  // True when some reader was still waiting on the FIFO past the time limit.
  bool waited_on() const { return released_; }

private:
  std::filesystem::path path_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> released_{false};
  std::thread watchdog_;
};

} // namespace vaskit::testing
