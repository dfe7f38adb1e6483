// vaskit-procly: run by the host as "vas-kit procly", or directly.
#include "core/command.hpp"
#include "tools/procly/procly.hpp"

namespace tool = vaskit::procly;

int main(int argc, char **argv) {
  return vaskit::cli::run_tool(argc, argv, tool::procly_command, tool::cmd_procly);
}
