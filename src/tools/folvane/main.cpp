// vaskit-folvane: run by the host as "vas-kit folvane", or directly.
#include "core/command.hpp"
#include "tools/folvane/folvane.hpp"

namespace {

namespace folvane = vaskit::folvane;
namespace cli = vaskit::cli;

int run(const std::string &prog, const std::vector<std::string> &args) {
  const cli::Params p = cli::parse(folvane::folvane_command(), args, prog);
  folvane::Options options;
  options.config = p.value("config");
  options.generate_config = p.flag("generate_config");
  options.extract_info = p.value("extract_info");
  return folvane::cmd_folvane(options);
}

} // namespace

int main(int argc, char **argv) {
  return vaskit::cli::run_main(argc, argv, run);
}
