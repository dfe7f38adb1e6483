#include "tools/chartwyn/diagrams.hpp"

#include "core/fs.hpp"
#include "core/interrupt.hpp"
#include "core/text.hpp"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <sched.h>
#include <signal.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace vaskit::chartwyn {

namespace stdfs = std::filesystem;

namespace {

constexpr std::uint64_t kMiB = 1024 * 1024;
// What one renderer process with its own browser takes at its peak, what the batch renderer
// takes with one page, and what each further page adds.
constexpr std::uint64_t kRendererProcess = 512 * kMiB;
constexpr std::uint64_t kSharedBrowser = 700 * kMiB;
constexpr std::uint64_t kBrowserPage = 100 * kMiB;
// Renderer processes with a browser each, and pages of the batch renderer, at most at a time:
// more gains little on a machine of any size and keeps a run well under 1.5 GB. Setting up a
// page costs about as much as drawing 10 diagrams in it, so a second page starts to pay from
// about 15 diagrams on.
constexpr std::size_t kMaxProcesses = 2;
constexpr std::size_t kMaxPages = 2;
constexpr std::size_t kDiagramsPerPage = 15;

std::size_t processors() {
  cpu_set_t set;
  if (::sched_getaffinity(0, sizeof set, &set) == 0)
    return static_cast<std::size_t>(std::max(1, CPU_COUNT(&set)));
  const long n = ::sysconf(_SC_NPROCESSORS_ONLN);
  return n > 0 ? static_cast<std::size_t>(n) : 1;
}

// MemAvailable from /proc/meminfo; a large value when it cannot be read.
std::uint64_t available_memory() {
  std::ifstream in("/proc/meminfo");
  std::string key;
  std::uint64_t kib = 0;
  std::string unit;
  while (in >> key >> kib >> unit)
    if (key == "MemAvailable:")
      return kib * 1024;
  return 16 * 1024 * kMiB;
}

std::size_t bounded(std::size_t wanted, std::size_t cap, std::uint64_t fits) {
  return std::max<std::size_t>(
      1, std::min({wanted, cap, processors(), static_cast<std::size_t>(fits)}));
}

// One renderer run's own temporary folder "vaskit-chartwyn-<pid>-XXXXXX" in the user's
// temporary folder, its TMPDIR: the browser's profile and whatever else the run leaves there
// goes with it. The run's keeper removes it once the renderer and all it started have ended;
// this object removes it too, for a run that never started, and so does an interrupt that comes
// before the keeper is there to do it.
class RendererTemp {
public:
  RendererTemp() {
    // The browser makes a socket in its profile folder under this one, and a socket's path
    // holds at most 107 bytes ("org.chromium.Chromium.XXXXXX/SingletonSocket" and our own
    // folder take 75 of them): under a longer TMPDIR the browser would not start, so such a
    // run uses /tmp.
    std::error_code ec;
    stdfs::path root = stdfs::temp_directory_path(ec);
    if (ec || root.native().size() > 107 - 75)
      root = "/tmp";
    try {
      // Also removes the folders of earlier runs that were killed outright (so that not even
      // their renderer's keeper could remove them).
      dir_.emplace("vaskit-chartwyn-", root);
    } catch (const std::system_error &) {
    }
  }

  // Empty when no folder could be made: the renderer then uses the user's temporary folder.
  std::string path() const { return dir_ ? dir_->path().string() : std::string(); }
  void remove() noexcept {
    if (dir_)
      dir_->remove();
  }
  // Options for a renderer run in this folder.
  void give_to(process::Options &o) const {
    const std::string folder = path();
    if (folder.empty())
      return;
    o.env.emplace_back("TMPDIR", folder);
    o.remove_when_done = folder;
  }

private:
  std::optional<interrupt::RunTempDir> dir_;
};

struct Slot {
  bool done = false;
  std::size_t wave = 0; // how many earlier diagrams write the same SVG path
  Rendered r;
};

class Pass {
public:
  Pass(const std::vector<DiagramSource> &diagrams, int timeout_seconds,
       const std::function<void(std::size_t, Rendered &)> &emit)
      : d_(diagrams), timeout_(timeout_seconds), emit_(emit), slots_(diagrams.size()) {
    std::map<std::string, std::size_t> seen;
    for (std::size_t i = 0; i < d_.size(); ++i)
      slots_[i].wave = seen[d_[i].svg_path]++;
  }

  void go() {
    const auto mmdc = process::which("mmdc");
    if (mmdc && draws_batches(*mmdc))
      run_batch();
    // Whatever is left gets a renderer run of its own. Diagrams that write the same SVG file run
    // one after the other, in listing order, so that the last one's file stays, as in turn.
    const std::size_t waves = slots_.empty() ? 0
                                             : std::max_element(
                                                   slots_.begin(), slots_.end(),
                                                   [](const Slot &a, const Slot &b) {
                                                     return a.wave < b.wave;
                                                   })->wave +
                                                   1;
    for (std::size_t wave = 0; wave < waves; ++wave) {
      std::vector<std::size_t> which;
      for (std::size_t i = 0; i < slots_.size(); ++i)
        if (!slots_[i].done && slots_[i].wave == wave)
          which.push_back(i);
      run_each(which);
    }
  }

private:
  static process::Options renderer_options() {
    process::Options o;
    o.in = process::Stream::null;
    o.out = process::Stream::capture;
    o.err = process::Stream::capture;
    o.end_tree = true;
    return o;
  }

  // The SVG as the renderer left it, kept for the diagram's turn.
  void drawn(std::size_t i) {
    Rendered &r = slots_[i].r;
    r.ok = true;
    try {
      std::error_code ec;
      if (!stdfs::exists(d_[i].svg_path, ec))
        r.svg_missing = true;
      else
        r.svg = fs::read_file(d_[i].svg_path);
    } catch (...) {
      r.svg_error = std::current_exception();
    }
    slots_[i].done = true;
    flush();
  }

  void flush() {
    while (next_ < slots_.size() && slots_[next_].done) {
      const std::size_t i = next_++;
      emit_(i, slots_[i].r);
      slots_[i].r = Rendered{};
    }
  }

  // One renderer process draws every diagram it can (each SVG file written once) in one
  // browser, a page drawing one diagram after another, and says which as it goes.
  void run_batch() {
    std::vector<std::size_t> batch;
    for (std::size_t i = 0; i < d_.size(); ++i)
      if (slots_[i].wave == 0 && text::valid_utf8(d_[i].src_path) &&
          text::valid_utf8(d_[i].svg_path))
        batch.push_back(i);
    if (batch.empty())
      return;
    const std::size_t pages = bounded(
        std::max<std::size_t>(1, batch.size() / kDiagramsPerPage), kMaxPages,
        available_memory() > kSharedBrowser ? (available_memory() - kSharedBrowser) / kBrowserPage
                                            : 1);
    nlohmann::json job = {{"parallel", pages},
                          {"timeout_ms", static_cast<std::int64_t>(timeout_) * 1000},
                          {"diagrams", nlohmann::json::array()}};
    for (std::size_t i : batch)
      job["diagrams"].push_back({{"input", d_[i].src_path}, {"output", d_[i].svg_path}});
    RendererTemp tmp;
    if (tmp.path().empty())
      return; // each diagram gets a run of its own
    const std::string job_file = (stdfs::path(tmp.path()) / "diagrams.json").string();
    try {
      fs::write_file_atomic(job_file, job.dump());
    } catch (const std::exception &) {
      return;
    }

    process::Options o = renderer_options();
    tmp.give_to(o);
    // Each diagram has its time inside the batch; this only ends a batch that stops answering.
    o.timeout = std::chrono::seconds(
        static_cast<std::int64_t>(timeout_) * static_cast<std::int64_t>(batch.size()) + 60);
    std::string pending;
    o.on_output = [&](std::string_view piece) {
      pending.append(piece);
      for (std::size_t nl; (nl = pending.find('\n')) != std::string::npos;) {
        const std::string line = pending.substr(0, nl);
        pending.erase(0, nl + 1);
        std::size_t k = 0;
        const auto [end, err] = std::from_chars(line.data(), line.data() + line.size(), k);
        if (err != std::errc() || k >= batch.size() || slots_[batch[k]].done)
          continue;
        // A diagram the batch could not draw is drawn again on its own below, where the
        // renderer says why.
        if (std::string_view(end, line.data() + line.size() - end) == " ok")
          drawn(batch[k]);
      }
    };
    o.on_interrupt = [&tmp] { tmp.remove(); };
    process::run({"mmdc", "--vaskit-batch", job_file}, o);
  }

  // One renderer run per diagram, several at a time.
  void run_each(const std::vector<std::size_t> &which) {
    if (which.empty())
      return;
    const std::size_t parallel =
        bounded(which.size(), kMaxProcesses, available_memory() / kRendererProcess);
    std::vector<process::Job> jobs;
    std::vector<std::unique_ptr<RendererTemp>> temps;
    for (std::size_t i : which) {
      process::Job j;
      j.argv = {"mmdc", "-i", mmdc_path_argument(d_[i].src_path), "-o",
                mmdc_path_argument(d_[i].svg_path)};
      j.options = renderer_options();
      j.options.timeout = std::chrono::seconds(timeout_);
      temps.push_back(std::make_unique<RendererTemp>());
      temps.back()->give_to(j.options);
      jobs.push_back(std::move(j));
    }
    process::run_all(
        jobs, parallel,
        [&](std::size_t k, const process::Outcome &r) {
          const std::size_t i = which[k];
          Rendered &out = slots_[i].r;
          out.out = r.out;
          out.err = r.err;
          if (r.ok()) {
            drawn(i);
            return;
          }
          std::string why;
          if (!r.started)
            why = "could not start: " + r.error;
          else if (r.timed_out)
            why = "timed out after " + std::to_string(timeout_) + " seconds";
          else if (r.signal != 0)
            why = "died with signal " + std::to_string(r.signal);
          else
            why = "returned non-zero exit status " + std::to_string(r.status);
          const auto &a = jobs[k].argv;
          out.failure =
              "Command '" +
              text::sanitize_utf8(a[0] + " " + a[1] + " " + a[2] + " " + a[3] + " " + a[4]) + "' " +
              why + ".";
          slots_[i].done = true;
          flush();
        },
        [&temps] {
          for (auto &t : temps)
            t->remove();
        });
  }

  const std::vector<DiagramSource> &d_;
  int timeout_;
  const std::function<void(std::size_t, Rendered &)> &emit_;
  std::vector<Slot> slots_;
  std::size_t next_ = 0;
};

} // namespace

std::string mmdc_path_argument(const std::string &path) {
  return !path.empty() && path.front() == '-' ? "./" + path : path;
}

bool draws_batches(const std::string &mmdc) {
  std::ifstream in(mmdc, std::ios::binary);
  std::string head(4096, '\0');
  in.read(head.data(), static_cast<std::streamsize>(head.size()));
  head.resize(static_cast<std::size_t>(in.gcount()));
  return head.find("\n# vaskit-batch: ") != std::string::npos;
}

void render_diagrams(const std::vector<DiagramSource> &diagrams, int timeout_seconds,
                     const std::function<void(std::size_t, Rendered &)> &emit) {
  if (diagrams.empty())
    return;
  Pass pass(diagrams, timeout_seconds, emit);
  pass.go();
}

} // namespace vaskit::chartwyn
