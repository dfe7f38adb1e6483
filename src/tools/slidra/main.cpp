// vaskit-slidra: run by the host as "vas-kit slidra", or directly.
#include "core/command.hpp"
#include "tools/slidra/slidra.hpp"

namespace tool = vaskit::slidra;

int main(int argc, char **argv) {
  return vaskit::cli::run_tool(argc, argv, tool::slidra_command, tool::cmd_slidra);
}
