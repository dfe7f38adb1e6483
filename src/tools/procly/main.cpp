// vaskit-procly: run by the host as "vas-kit procly", or directly.
#include "core/command.hpp"
#include "tools/procly/procly.hpp"

namespace {

namespace procly = vaskit::procly;
namespace cli = vaskit::cli;

int run(const std::string &prog, const std::vector<std::string> &args) {
  const cli::Params p = cli::parse(procly::procly_command(), args, prog);
  procly::Options options;
  options.config = p.value("config");
  options.generate_config = p.flag("generate_config");
  return procly::cmd_procly(options);
}

} // namespace

int main(int argc, char **argv) {
  return cli::run_main(argc, argv, run);
}
