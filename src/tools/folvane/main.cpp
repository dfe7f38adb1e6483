// vaskit-folvane: run by the host as "vas-kit folvane", or directly.
#include "core/command.hpp"
#include "tools/folvane/folvane.hpp"

int main(int argc, char **argv) {
  return vaskit::cli::run_main(
      argc, argv, [](const std::string &prog, const std::vector<std::string> &args) {
        const auto params = vaskit::cli::parse(vaskit::folvane::folvane_command(), args, prog);
        vaskit::folvane::cmd_folvane(params.value("config"), params.flag("generate_config"),
                                     params.value("extract_info"));
      });
}
