// File-system helpers: whole-file reads and atomic writes (a file is either replaced whole or
// left as it was; no reader ever sees half a file, and a crash leaves no temporary file behind).
//
// Errors: read_file and write_file_atomic throw std::system_error whose code is the errno of the
// failing call and whose what() names the path; an exception thrown by a ScopedWriteHook passes
// through unchanged. The path helpers below never throw (except std::bad_alloc).
#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <utility>

namespace vaskit::fs {

// The file's bytes; throws std::system_error naming the path.
std::string read_file(const std::filesystem::path &path);
// The bytes of a regular file. Anything else (a FIFO, a device, a socket, a folder) is refused
// at once with std::runtime_error "<path>: is not a regular file", without waiting for a writer
// the way a plain open of a FIFO would; other failures throw std::system_error naming the path.
std::string read_regular_file(const std::filesystem::path &path);
// Opens `path` for reading when it is a regular file, without waiting for a writer the way a
// plain open of a FIFO would. Returns the descriptor (close-on-exec, blocking reads); -1 with
// errno set when it cannot be opened or examined; -1 with `not_regular` set when it is anything
// but a regular file.
int open_regular_file(const std::filesystem::path &path, bool &not_regular);
// The permission bits a new file of the user gets: 0666 less the process's umask.
mode_t new_file_mode();

// Writes `data` to a temporary file in the folder of `path`, flushes it to disk and renames it
// over `path`, keeping the permission bits of the file it replaces. The temporary file has no
// name while it is written (O_TMPFILE), so a process killed then leaves nothing; it gets one
// just before the rename. Where the file system cannot create unnamed files, or when a process
// dies between naming and rename, the temporary file stays under a name that carries its
// process id (".<name>.tmp-<pid>-<random>"), and the next save of the same file removes those of
// processes that no longer run. A symbolic link is written through (the file it points at is
// replaced, even when that file does not exist yet). A file without any write permission bit
// is not replaced. On failure the temporary file is removed, `path` is unchanged and
// std::system_error is thrown.
void write_file_atomic(const std::filesystem::path &path, std::string_view data);

// A new file in `folder` that gets its name only once it is complete, and never replaces a file.
// It has no name while it is written (O_TMPFILE), so a process killed meanwhile leaves nothing
// behind. Where the file system cannot make unnamed files it is made as
// "<folder>/<prefix><pid>-<random>" instead, after the files of that form whose process no longer
// runs (left by runs killed while writing) have been removed. The destructor closes the file and
// removes that temporary name, if any. Errors throw std::system_error naming the folder or the
// target.
class NewFile {
public:
  // Creates the file with the permission bits `mode` (not reduced by the umask).
  NewFile(const std::filesystem::path &folder, const std::string &prefix, mode_t mode);
  ~NewFile();
  NewFile(const NewFile &) = delete;
  NewFile &operator=(const NewFile &) = delete;

  // The descriptor to write through (open for writing; it stays owned by this object).
  int fd() const { return fd_; }
  // Gives the complete file the name `target`, in the same folder, unless a file of that name
  // exists: false then, and the file stays as it is for another name.
  bool link_as(const std::filesystem::path &target);

private:
  int fd_ = -1;
  std::string temp_name_; // set when the file system gave the file a temporary name
  bool linked_ = false;
};

// Test seam: while a ScopedWriteHook lives, write_file_atomic calls its hook after each 64 KiB
// block written (with the bytes written so far) and once before the rename, when the temporary
// file is complete and named. Throwing from the hook simulates a failed save. The hook is
// process-wide; a newer ScopedWriteHook hides an older one until it ends.
enum class WriteStage { wrote_block, before_rename };
using WriteHook = std::function<void(WriteStage stage, std::size_t written)>;
class ScopedWriteHook {
public:
  explicit ScopedWriteHook(WriteHook hook);
  ~ScopedWriteHook();
  ScopedWriteHook(const ScopedWriteHook &) = delete;
  ScopedWriteHook &operator=(const ScopedWriteHook &) = delete;

private:
  friend void write_file_atomic(const std::filesystem::path &path, std::string_view data);
  WriteHook hook_;
  ScopedWriteHook *previous_;
};

// Python's os.path.splitext on the last component: ".md" has no extension, "a.b.md" gives
// ("a.b", ".md").
std::pair<std::string, std::string> splitext(std::string_view name);
// The last path component (Python os.path.basename: "" for a path ending in "/").
std::string basename(std::string_view path);
// os.path.dirname
std::string dirname(std::string_view path);
// os.path.join of two parts.
std::string join(std::string_view a, std::string_view b);
// The text a path object prints for `path`: "." parts, repeated and trailing slashes dropped,
// ".." kept ("./a//b/" -> "a/b", "./" -> ".").
std::string path_text(std::string_view path);
// os.path.abspath: absolute and normalised ("." and ".." resolved lexically).
std::string abspath(std::string_view path);

} // namespace vaskit::fs
