// vaskit-postrel: run by the host as "vas-kit postrel", or directly.
#include "core/command.hpp"
#include "tools/postrel/postrel.hpp"
#include "vaskern/app_logging.hpp"

namespace {

namespace postrel = vaskit::postrel;
namespace cli = vaskit::cli;

int run(const std::string &prog, const std::vector<std::string> &args) {
  const cli::Params p = cli::parse(postrel::postrel_command(), args, prog);
  postrel::Options options;
  options.config = p.value("config");
  options.input_file = p.value("input_file");
  options.attachments = p.values("attachments");
  options.group = p.value("group");
  options.list_groups_flag = p.flag("list_groups_flag");
  options.generate_config = p.flag("generate_config");
  options.no_ai = p.flag("no_ai");
  options.debug = p.flag("debug");
  return postrel::cmd_postrel(options);
}

} // namespace

int main(int argc, char **argv) {
  vaskern::app_logging::setup_logging("Postrel", false);
  return cli::run_main(argc, argv, run);
}
