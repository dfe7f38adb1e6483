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

} // namespace vaskit::interrupt
