// vaskit-prosett: run by the host as "vas-kit prosett", or directly.
#include "core/command.hpp"
#include "tools/prosett/prosett.hpp"
#include "vaskern/app_logging.hpp"

int main(int argc, char **argv) {
  vaskern::app_logging::setup_logging("VasAgy", false);
  return vaskit::cli::run_main(argc, argv, [](const std::string &prog, std::vector<std::string> args) {
    // A bare -c/-o (last, or followed by another option) takes the empty value.
    args.insert(args.begin(), prog);
    args = vaskit::cli::bare_option_prepass(args, {"-c", "--config", "-o", "--output-dir"});
    args.erase(args.begin());
    vaskit::prosett::cmd_prosett(prog, args);
  });
}
