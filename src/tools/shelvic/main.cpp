// vaskit-shelvic: run by the host as "vas-kit shelvic", or directly.
#include "core/command.hpp"
#include "tools/shelvic/shelvic.hpp"

namespace tool = vaskit::shelvic;

int main(int argc, char **argv) {
  return vaskit::cli::run_tool(argc, argv, tool::shelvic_command, tool::cmd_shelvic);
}
