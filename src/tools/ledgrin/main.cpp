// vaskit-ledgrin: run by the host as "vas-kit ledgrin", or directly.
#include "core/command.hpp"
#include "tools/ledgrin/ledgrin.hpp"

namespace {

namespace ledgrin = vaskit::ledgrin;
namespace cli = vaskit::cli;

int run(const std::string &prog, const std::vector<std::string> &args) {
  const cli::Params p = cli::parse(ledgrin::ledgrin_command(), args, prog);
  ledgrin::Options options;
  options.config = p.value("config");
  options.generate_config = p.flag("generate_config");
  return ledgrin::cmd_ledgrin(options);
}

} // namespace

int main(int argc, char **argv) {
  return cli::run_main(argc, argv, run);
}
