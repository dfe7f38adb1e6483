// vaskit-shelvic: run by the host as "vas-kit shelvic", or directly.
#include "core/command.hpp"
#include "tools/shelvic/shelvic.hpp"
#include "vaskern/app_logging.hpp"

int main(int argc, char **argv) {
  vaskern::app_logging::setup_logging("Vaskit", false);
  return vaskit::cli::run_main(argc, argv,
                               [](const std::string &prog, std::vector<std::string> args) {
                                 // A bare -c (last, or followed by another option) takes the empty
                                 // value.
                                 args.insert(args.begin(), prog);
                                 args = vaskit::cli::bare_option_prepass(args, {"-c", "--config"});
                                 args.erase(args.begin());
                                 vaskit::shelvic::cmd_shelvic(prog, args);
                               });
}
