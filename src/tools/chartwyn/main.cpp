// vaskit-chartwyn: run by the host as "vas-kit chartwyn", or directly.
#include "core/command.hpp"
#include "tools/chartwyn/chartwyn.hpp"

namespace tool = vaskit::chartwyn;

int main(int argc, char **argv) {
  return vaskit::cli::run_tool(argc, argv, tool::chartwyn_command, tool::cmd_chartwyn);
}
