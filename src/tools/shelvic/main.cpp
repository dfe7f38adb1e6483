// vaskit-shelvic: run by the host as "vas-kit shelvic", or directly.
#include "core/command.hpp"
#include "tools/shelvic/shelvic.hpp"
#include "vaskern/app_logging.hpp"

namespace {

namespace shelvic = vaskit::shelvic;
namespace cli = vaskit::cli;

int run(const std::string &prog, const std::vector<std::string> &args) {
  const cli::Params p = cli::parse(shelvic::shelvic_command(), args, prog);
  shelvic::Options options;
  options.config = p.value("config");
  options.generate_config = p.flag("generate_config");
  options.debug = p.flag("debug");
  return shelvic::cmd_shelvic(options);
}

} // namespace

int main(int argc, char **argv) {
  vaskern::app_logging::setup_logging("Vaskit", false);
  return vaskit::cli::run_main(argc, argv, run);
}
