// vaskit-prosett: run by the host as "vas-kit prosett", or directly.
#include "core/command.hpp"
#include "tools/prosett/prosett.hpp"
#include "vaskern/app_logging.hpp"

namespace {

namespace prosett = vaskit::prosett;
namespace cli = vaskit::cli;

int run(const std::string &prog, const std::vector<std::string> &args) {
  const cli::Params p = cli::parse(prosett::prosett_command(), args, prog);
  prosett::Options options;
  options.config = p.value("config");
  options.generate_config = p.flag("generate_config");
  options.debug = p.flag("debug");
  options.output_dir = p.value("output_dir");
  options.file = p.value("file");
  return prosett::cmd_prosett(options);
}

} // namespace

int main(int argc, char **argv) {
  vaskern::app_logging::setup_logging("VasAgy", false);
  return vaskit::cli::run_main(argc, argv, run);
}
