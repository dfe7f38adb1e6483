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
#include <vector>

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

// A new file that gets a real name only when it is whole and flushed to disk. It is written
// without a name (O_TMPFILE) where the file system allows, else under a temporary name in its
// folder that carries the process id (".<name>.tmp-<pid>-<random>"), so a process killed while
// writing leaves nothing, or only such a temporary, which a later NewFile removes once its
// process no longer runs (see the constructors). Until it is finished, the destructor removes
// what was written.
// It is finished one of two ways:
//  - publish(target): named `target` unless that name is taken (a backup copy, a moved file);
//  - replace(): renamed over the file it replaces, in one step (write_file_atomic, a package
//    written in pieces by a library that seeks back into it).
// Errors: std::system_error whose what() names `path` (or the target of publish()).
class NewFile {
public:
  // A file to publish(), created in the folder of `path` (which must exist) with permission bits
  // `mode`; `path` also names the temporary. Removes every stale temporary in that folder.
  NewFile(const std::filesystem::path &path, mode_t mode);
  // A file to replace() `path` with: a symbolic link is written through (the file it points at
  // is replaced, even when that file does not exist yet), the permission bits are those of the
  // file replaced (new_file_mode() for a new one), and a file without any write permission bit is
  // refused (EACCES). Removes the stale temporaries of that file only.
  struct Replacing {};
  static constexpr Replacing replacing{};
  NewFile(const std::filesystem::path &path, Replacing);
  ~NewFile();
  NewFile(const NewFile &) = delete;
  NewFile &operator=(const NewFile &) = delete;

  // The open descriptor, for reading and writing (for metadata such as times, or to seek; write
  // data with write()). Owned by this object; -1 after replace().
  int fd() const { return fd_; }
  // Writes all of `data` at the descriptor's offset.
  void write(std::string_view data);
  // Flushes the file to disk and gives it the name `target`, in the same folder, unless that
  // name is taken: false then, and the file stays unpublished for another name. The folder is
  // not flushed: a caller whose next step relies on the name surviving a power cut flushes it.
  bool publish(const std::filesystem::path &target);
  // Flushes the file to disk, renames it over the file it replaces and flushes the folder.
  void replace();

private:
  void open(const std::filesystem::path &folder, const std::string &prefix, mode_t mode,
            bool every_stale);
  void flush();

  std::string what_;
  std::string target_; // what replace() renames over
  std::string folder_;
  std::string base_; // the temporary names start so
  std::string temp_; // the temporary name, when the file has one
  int fd_ = -1;
  std::size_t written_ = 0;
  bool flushed_ = false;
  bool finished_ = false;
};

// Gives `from` the name `to` within one file system, never replacing an existing file (where
// the file system lacks an atomic way, a check before the rename). Returns 0, or the errno of the
// failure: EEXIST when `to` is taken, EXDEV across file systems.
int rename_no_replace(const std::string &from, const std::string &to);

// Test seam: while a ScopedWriteHook lives, write_file_atomic and NewFile::write call its hook
// after each block written, of at most 64 KiB (with the bytes written so far), and once when the
// temporary file is complete and flushed: before replace() renames it (it is named by then), or
// before publish() first tries to name it. Throwing from the hook simulates a failed save. The
// hook is process-wide; a newer ScopedWriteHook hides an older one until it ends.
enum class WriteStage { wrote_block, before_rename };
using WriteHook = std::function<void(WriteStage stage, std::size_t written)>;
class ScopedWriteHook {
public:
  explicit ScopedWriteHook(WriteHook hook);
  ~ScopedWriteHook();
  ScopedWriteHook(const ScopedWriteHook &) = delete;
  ScopedWriteHook &operator=(const ScopedWriteHook &) = delete;

private:
  friend void call_write_hook(WriteStage stage, std::size_t written);
  WriteHook hook_;
  ScopedWriteHook *previous_;
};

// A new folder "<prefix><pid>-XXXXXX" in the user's temporary folder (TMPDIR, else /tmp), for one
// run's scratch files and those of the programs it starts. Folders of that form whose process
// no longer runs (a run killed outright) are removed first, with everything in them; those of
// running processes, and folders of other users, stay. Throws std::system_error when the
// folder cannot be made. A non-empty `root` is used in place of the user's temporary folder.
std::filesystem::path make_run_temp_dir(const std::string &prefix,
                                        const std::filesystem::path &root = {});

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

// The folders that creating `folder` with all its parents would make: those that do not exist
// yet, the deepest first (so that removing them in this order can succeed). Empty when it exists.
std::vector<std::filesystem::path> missing_folders(const std::filesystem::path &folder);

} // namespace vaskit::fs
