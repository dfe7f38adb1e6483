// vaskit-ledgrin: run by the host as "vas-kit ledgrin", or directly.
#include "core/command.hpp"
#include "tools/ledgrin/ledgrin.hpp"

namespace tool = vaskit::ledgrin;

int main(int argc, char **argv) {
  return vaskit::cli::run_tool(argc, argv, tool::ledgrin_command, tool::cmd_ledgrin);
}
