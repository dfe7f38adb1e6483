// File-system helpers: whole-file reads and atomic writes (a file is either replaced whole or
// left as it was; no reader ever sees half a file).
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace vaskit::fs {

// The file's bytes; throws std::system_error naming the path.
std::string read_file(const std::filesystem::path &path);

// Writes `data` to a temporary file beside `path`, flushes it to disk and renames it over
// `path`. On failure the temporary file is removed, `path` is unchanged and std::system_error is
// thrown.
void write_file_atomic(const std::filesystem::path &path, std::string_view data);

// Test seam: called with the temporary path before the rename; throwing from it simulates a
// failed save. Empty by default.
void set_write_hook(std::function<void(const std::filesystem::path &tmp)> hook);

// Python's os.path.splitext on the last component: ".md" has no extension, "a.b.md" gives
// ("a.b", ".md").
std::pair<std::string, std::string> splitext(std::string_view name);
// The last path component (Python os.path.basename: "" for a path ending in "/").
std::string basename(std::string_view path);
// os.path.dirname
std::string dirname(std::string_view path);
// os.path.join of two parts.
std::string join(std::string_view a, std::string_view b);
// os.path.abspath: absolute and normalised ("." and ".." resolved lexically).
std::string abspath(std::string_view path);

} // namespace vaskit::fs
