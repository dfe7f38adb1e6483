// vaskit-prosett: run by the host as "vas-kit prosett", or directly.
#include "core/command.hpp"
#include "tools/prosett/prosett.hpp"
#include "vaskern/app_logging.hpp"

namespace tool = vaskit::prosett;

int main(int argc, char **argv) {
  vaskern::app_logging::setup_logging("VasAgy", false);
  return vaskit::cli::run_tool(argc, argv, tool::prosett_command, tool::cmd_prosett);
}
