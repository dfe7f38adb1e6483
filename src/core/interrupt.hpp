// What a run has made is taken away when an interrupt ends it: Ctrl-C (SIGINT), SIGTERM or SIGHUP
// remove the registered files and folders, and the process then ends by that signal as it would
// have without them.
//
//   interrupt::RemoveOnInterrupt temp({"/tmp/x/page.png"}, interrupt::Removal::file);
//   {
//     interrupt::Hold hold; // an interrupt now waits until the file is whole and in place
//     fs::write_file_atomic("/tmp/x/page.png", bytes);
//   }
//
// The removal runs inside the signal handler, with async-signal-safe calls only, so it works
// whatever the run is doing at that moment (drawing on other threads, waiting on them). The
// registrations belong to one thread, the one that makes them (the first while none is alive);
// the handler runs on that thread, and a signal that another thread catches is passed on to it.
// A file whose creation takes more than one step (a temporary name, then a rename) is created
// inside a Hold on that thread, so that the handler never sees it half made. Other threads
// create nothing that must go.
//
// Errors: the constructors throw std::logic_error when called on a thread other than the owner,
// and std::bad_alloc; removal never fails loudly (what cannot be removed stays).
#pragma once

#include <csignal>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace vaskit::interrupt {

enum class Removal {
  file,         // the file (or link) itself
  empty_folder, // the folder, only while it is empty
  tree,         // the folder and everything below it; links are removed, never followed
};

// While it lives, an interrupt removes `paths` (made absolute against the current folder now).
// The first registration installs the handlers, the last one gone restores what was there; a
// signal the process ignores (nohup) stays ignored. The destructor forgets the paths and
// removes nothing.
class RemoveOnInterrupt {
public:
  RemoveOnInterrupt(const std::vector<std::filesystem::path> &paths, Removal how);
  ~RemoveOnInterrupt();
  RemoveOnInterrupt(const RemoveOnInterrupt &) = delete;
  RemoveOnInterrupt &operator=(const RemoveOnInterrupt &) = delete;

  struct Entry;

private:
  Entry *entry_;
};

// Removes every registered path now, as the handler does: for an interrupt that another handler
// caught on the owner thread (a child program's run relays it and then ends the process).
void remove_registered();

// While it lives, SIGINT, SIGTERM and SIGHUP are held back on the calling thread; one that
// arrives meanwhile acts when the Hold ends. Holds nest.
class Hold {
public:
  Hold();
  ~Hold();
  Hold(const Hold &) = delete;
  Hold &operator=(const Hold &) = delete;

private:
  sigset_t previous_;
};

// A run's own temporary folder, fs::make_run_temp_dir(prefix, root): removed whole when the
// object ends or remove() is called, and by an interrupt meanwhile. It is made and registered,
// and later removed and forgotten, each inside a Hold, so that no interrupt falls between the two
// steps. Throws std::system_error when the folder cannot be made.
class RunTempDir {
public:
  explicit RunTempDir(const std::string &prefix, const std::filesystem::path &root = {});
  ~RunTempDir();
  RunTempDir(const RunTempDir &) = delete;
  RunTempDir &operator=(const RunTempDir &) = delete;

  // Empty once removed.
  const std::filesystem::path &path() const noexcept { return path_; }
  void remove() noexcept;

private:
  std::filesystem::path path_;
  std::optional<RemoveOnInterrupt> on_interrupt_;
};

} // namespace vaskit::interrupt
