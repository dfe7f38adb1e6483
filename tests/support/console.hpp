// Test support: run code in a folder with a given standard input, and collect what it printed.
#pragma once

#include <filesystem>
#include <functional>
#include <string>

namespace vaskit::testing {

struct Console {
  std::string out; // standard output
  std::string err; // standard error
};

// Runs `fn` with `input` as standard input (end of input after it) and collects standard output
// and standard error.
Console with_console(const std::string &input, const std::function<void()> &fn);

// Makes `dir` the current folder while it lives; the previous one comes back afterwards.
class CurrentDir {
public:
  explicit CurrentDir(const std::filesystem::path &dir);
  ~CurrentDir();
  CurrentDir(const CurrentDir &) = delete;
  CurrentDir &operator=(const CurrentDir &) = delete;

private:
  std::filesystem::path previous_;
};

} // namespace vaskit::testing
