// vaskit-prosett: run by the host as "vas-kit prosett", or directly.
#include "core/command.hpp"
#include "tools/prosett/prosett.hpp"

namespace tool = vaskit::prosett;

int main(int argc, char **argv) {
  return vaskit::cli::run_tool(argc, argv, tool::prosett_command, tool::cmd_prosett);
}
