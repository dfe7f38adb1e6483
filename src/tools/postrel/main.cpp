// vaskit-postrel: run by the host as "vas-kit postrel", or directly.
#include "core/command.hpp"
#include "tools/postrel/postrel.hpp"

namespace tool = vaskit::postrel;

int main(int argc, char **argv) {
  return vaskit::cli::run_tool(argc, argv, tool::postrel_command, tool::cmd_postrel);
}
