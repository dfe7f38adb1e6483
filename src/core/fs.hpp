// File-system helpers: whole-file reads and atomic writes (a file is either replaced whole or
// left as it was; no reader ever sees half a file).
#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace vaskit::fs {

// The file's bytes; throws std::system_error naming the path.
std::string read_file(const std::filesystem::path &path);

// Writes `data` to a temporary file beside `path`, flushes it to disk and renames it over
// `path`, keeping the permission bits of the file it replaces. A symbolic link is written through
// (the file it points at is replaced, even when that file does not exist yet). A file without
// any write permission bit is not replaced. On failure the temporary file is removed, `path` is
// unchanged and std::system_error is thrown.
void write_file_atomic(const std::filesystem::path &path, std::string_view data);

// Test seam: called after each 64 KiB block written (with the bytes written so far) and once
// before the rename; throwing from it simulates a failed save. Empty by default.
enum class WriteStage { wrote_block, before_rename };
using WriteHook = std::function<void(WriteStage stage, std::size_t written)>;
void set_write_hook(WriteHook hook);

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
