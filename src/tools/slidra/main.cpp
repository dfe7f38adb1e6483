// vaskit-slidra: run by the host as "vas-kit slidra", or directly.
#include "core/command.hpp"
#include "tools/slidra/slidra.hpp"
#include "vaskern/app_logging.hpp"

namespace {

namespace slidra = vaskit::slidra;
namespace cli = vaskit::cli;

int run(const std::string &prog, const std::vector<std::string> &args) {
  const cli::Params p = cli::parse(slidra::slidra_command(), args, prog);
  slidra::Options options;
  options.config = p.value("config");
  options.scan_dir = p.value("scan_dir");
  options.generate_config = p.flag("generate_config");
  options.debug = p.flag("debug");
  return slidra::cmd_slidra(options);
}

} // namespace

int main(int argc, char **argv) {
  vaskern::app_logging::setup_logging("Vaskit", false);
  return vaskit::cli::run_main(argc, argv, run);
}
