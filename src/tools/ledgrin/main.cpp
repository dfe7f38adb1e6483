// vaskit-ledgrin: run by the host as "vas-kit ledgrin", or directly.
#include "core/command.hpp"
#include "tools/ledgrin/ledgrin.hpp"

int main(int argc, char **argv) {
  return vaskit::cli::run_main(
      argc, argv, [](const std::string &prog, const std::vector<std::string> &args) {
        const auto params = vaskit::cli::parse(vaskit::ledgrin::ledgrin_command(), args, prog);
        vaskit::ledgrin::cmd_ledgrin(params.value("config"), params.flag("generate_config"));
      });
}
