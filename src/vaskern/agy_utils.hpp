// The AI agent runner and the content diff shown after an AI rewrite.
//
// The agent is an outside program named by the environment variable VASKIT_AGENT (a path, or a
// name searched on PATH), started without a shell with the arguments
//   --model <model> --file <source> [--goal <goal file>] [--skill <skill file>]... --prompt <text>
// where the model is VASKIT_AGENT_MODEL when set, else the caller's default. Its standard
// streams are the caller's own, and the caller waits until it ends.
#pragma once

#include "core/result.hpp"

#include <optional>
#include <string>
#include <vector>

namespace vaskern::agy_utils {

// The argument vector run_agy starts (program first).
std::vector<std::string> agent_argv(const std::string &program, const std::string &model,
                                    const std::string &file_path,
                                    const std::optional<std::string> &goal_path,
                                    const std::vector<std::string> &skill_path,
                                    const std::string &prompt);

// How the agent run ended: ok when the agent exited with status 0; `started` once it ran, so
// that a failure tells an agent that was never started (it wrote nothing) from one that ended
// badly and may have left its work half done.
struct AgentRun : vaskit::Result {
  bool started = false;
};

// Runs the agent and waits for it. Not ok, after one "❌"/"⚠️" line on standard error, when
// VASKIT_AGENT is unset, the program cannot be started, or it ends with a status other than 0 or
// by a signal (the message says which). Whether the agent did its work is for the caller to
// check. The agent never outlives the caller: a signal that ends the caller while it waits is
// passed on to the agent (SIGKILL after two seconds), and the kernel ends it should the caller
// be killed outright.
AgentRun run_agy(const std::string &file_path, const std::optional<std::string> &goal_path,
                 const std::vector<std::string> &skill_path, const std::string &prompt,
                 const std::string &default_model);

// The unified diff of two texts, line by line: "--- <from>" and "+++ <to>", then hunks
// "@@ -a,b +c,d @@" with three lines of context. Empty when the texts have the same lines.
// With `colour`, removed lines are red, added lines green and hunk heads cyan.
std::string unified_diff(const std::string &old_content, const std::string &new_content,
                         const std::string &from_file, const std::string &to_file,
                         bool colour = false);

// Prints unified_diff on standard output, coloured when it is a terminal.
void display_content_diff(const std::string &old_content, const std::string &new_content,
                          const std::string &from_file, const std::string &to_file);

} // namespace vaskern::agy_utils
