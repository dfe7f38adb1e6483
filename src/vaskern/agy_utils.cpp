#include "vaskern/agy_utils.hpp"

#include "core/process.hpp"
#include "core/text.hpp"
#include "vaskern/app_logging.hpp"

#include <cstdio>
#include <cstdlib>
#include <dtl/dtl.hpp>
#include <stdexcept>
#include <unistd.h>

namespace vaskern::agy_utils {
namespace {

app_logging::Logger &log() {
  return app_logging::lazy_logger("VasAgy");
}

enum class Op { same, del, add };
struct Edit {
  Op op;
  const std::string *line;
};

// "a,b" as unified diffs write a range: the count is left out when it is 1, and an empty range
// names the line before it.
std::string range(std::size_t first, std::size_t count) {
  if (count == 1)
    return std::to_string(first);
  return std::to_string(count == 0 ? first - 1 : first) + "," + std::to_string(count);
}

} // namespace

std::vector<std::string> agent_argv(const std::string &program, const std::string &model,
                                    const std::string &file_path,
                                    const std::optional<std::string> &goal_path,
                                    const std::vector<std::string> &skill_path,
                                    const std::string &prompt) {
  std::vector<std::string> argv{program, "--model", model, "--file", file_path};
  if (goal_path) {
    argv.push_back("--goal");
    argv.push_back(*goal_path);
  }
  for (const auto &s : skill_path) {
    argv.push_back("--skill");
    argv.push_back(s);
  }
  argv.push_back("--prompt");
  argv.push_back(prompt);
  return argv;
}

AgentRun run_agy(const std::string &file_path, const std::optional<std::string> &goal_path,
                 const std::vector<std::string> &skill_path, const std::string &prompt,
                 const std::string &default_model) {
  AgentRun run;
  const char *program = std::getenv("VASKIT_AGENT");
  if (!program || !*program) {
    run.message = "❌ 未設定 AI 代理程式：請以環境變數 VASKIT_AGENT 指定其執行檔。";
    log().error(run.message);
    return run;
  }
  std::string model = default_model;
  if (const char *m = std::getenv("VASKIT_AGENT_MODEL"); m && *m)
    model = m;
  const auto argv = agent_argv(program, model, file_path, goal_path, skill_path, prompt);
  log().debug("agent: " + std::string(program) + " --model " + model);
  vaskit::process::Options options;
  // The agent may ask the user; it shares the terminal and ends when the user ends it.
  options.own_process_group = false;
  options.end_with_caller = true;
  const auto outcome = vaskit::process::run(argv, options);
  if (!outcome.started) {
    run.message =
        "❌ 無法啟動 AI 代理程式 " + vaskit::text::printable(program) + ": " + outcome.describe();
    log().error(run.message);
    return run;
  }
  run.started = true;
  if (!outcome.ok()) {
    run.message = "⚠️ AI 代理程式異常結束 (" + outcome.describe() + ")";
    log().warning(run.message);
    return run;
  }
  run.ok = true;
  return run;
}

std::string unified_diff(const std::string &old_content, const std::string &new_content,
                         const std::string &from_file, const std::string &to_file, bool colour) {
  const auto a = vaskit::text::splitlines(old_content);
  const auto b = vaskit::text::splitlines(new_content);
  dtl::Diff<std::string, std::vector<std::string>> diff(a, b);
  // Long texts: a close, not always shortest, edit script instead of quadratic memory.
  if (a.size() + b.size() > 20000)
    diff.onHuge();
  diff.compose();

  // The script lists the lines of both texts in order; counting them gives each line's place
  // (the positions it records are not reliable for long texts).
  std::vector<Edit> edits;
  std::size_t ia = 0, ib = 0;
  for (const auto &step : diff.getSes().getSequence()) {
    switch (step.second.type) {
    case dtl::SES_ADD:
      edits.push_back({Op::add, &b.at(ib++)});
      break;
    case dtl::SES_DELETE:
      edits.push_back({Op::del, &a.at(ia++)});
      break;
    default:
      edits.push_back({Op::same, &a.at(ia++)});
      ++ib;
      break;
    }
  }
  if (ia != a.size() || ib != b.size())
    throw std::logic_error("diff script does not cover both texts");

  constexpr std::size_t context = 3;
  std::vector<std::size_t> changes;
  for (std::size_t i = 0; i < edits.size(); ++i)
    if (edits[i].op != Op::same)
      changes.push_back(i);
  if (changes.empty())
    return "";

  const char *red = colour ? "\033[31m" : "";
  const char *green = colour ? "\033[32m" : "";
  const char *cyan = colour ? "\033[36m" : "";
  const char *bold = colour ? "\033[1m" : "";
  const char *reset = colour ? "\033[0m" : "";
  std::string out;
  out += std::string(bold) + "--- " + vaskit::text::printable(from_file) + reset + "\n";
  out += std::string(bold) + "+++ " + vaskit::text::printable(to_file) + reset + "\n";

  // Old and new line numbers before each edit.
  std::vector<std::size_t> old_before(edits.size() + 1), new_before(edits.size() + 1);
  for (std::size_t i = 0; i < edits.size(); ++i) {
    old_before[i + 1] = old_before[i] + (edits[i].op != Op::add);
    new_before[i + 1] = new_before[i] + (edits[i].op != Op::del);
  }
  std::size_t k = 0;
  while (k < changes.size()) {
    // A hunk runs on while the next change is close enough for their contexts to meet.
    std::size_t last = k;
    while (last + 1 < changes.size() && changes[last + 1] - changes[last] - 1 <= 2 * context)
      ++last;
    const std::size_t begin = changes[k] > context ? changes[k] - context : 0;
    const std::size_t end = std::min(edits.size(), changes[last] + 1 + context);
    const std::size_t old_count = old_before[end] - old_before[begin];
    const std::size_t new_count = new_before[end] - new_before[begin];
    out += std::string(cyan) + "@@ -" + range(old_before[begin] + 1, old_count) + " +" +
           range(new_before[begin] + 1, new_count) + " @@" + reset + "\n";
    for (std::size_t i = begin; i < end; ++i) {
      const std::string line = vaskit::text::printable(*edits[i].line);
      switch (edits[i].op) {
      case Op::same:
        out += " " + line + "\n";
        break;
      case Op::del:
        out += std::string(red) + "-" + line + reset + "\n";
        break;
      case Op::add:
        out += std::string(green) + "+" + line + reset + "\n";
        break;
      }
    }
    k = last + 1;
  }
  return out;
}

void display_content_diff(const std::string &old_content, const std::string &new_content,
                          const std::string &from_file, const std::string &to_file) {
  const std::string text =
      unified_diff(old_content, new_content, from_file, to_file, ::isatty(STDOUT_FILENO) == 1);
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

} // namespace vaskern::agy_utils
