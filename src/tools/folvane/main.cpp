// vaskit-folvane: run by the host as "vas-kit folvane", or directly.
#include "core/command.hpp"
#include "tools/folvane/folvane.hpp"

namespace tool = vaskit::folvane;

int main(int argc, char **argv) {
  return vaskit::cli::run_tool(argc, argv, tool::folvane_command, tool::cmd_folvane);
}
