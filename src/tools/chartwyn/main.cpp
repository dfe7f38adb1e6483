// vaskit-chartwyn: run by the host as "vas-kit chartwyn", or directly.
#include "core/command.hpp"
#include "tools/chartwyn/chartwyn.hpp"

namespace {

namespace chartwyn = vaskit::chartwyn;
namespace cli = vaskit::cli;

int run(const std::string &prog, const std::vector<std::string> &args) {
  const cli::Params p = cli::parse(chartwyn::chartwyn_command(), args, prog);
  chartwyn::Options options;
  options.config = p.value("config");
  options.generate_config = p.flag("generate_config");
  return chartwyn::cmd_chartwyn(options);
}

} // namespace

int main(int argc, char **argv) {
  return vaskit::cli::run_main(argc, argv, run);
}
