// vas-kit: the host. It knows the tools by name and runs each tool's own executable,
// vaskit-<tool>, found beside itself, so that a tool loads only the libraries it needs. The
// tool table is generated from the tools' vaskit_add_tool calls, which hold each help line.
#include "host/tool_table.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace {

using vaskit::host::ToolRow;
using vaskit::host::TOOLS;

void print_usage(FILE *to) {
  std::fputs("Usage: vas-kit [OPTIONS] COMMAND [ARGS]...\n", to);
}

void print_help() {
  print_usage(stdout);
  std::fputs("\n  Office document tools.\n\nOptions:\n  --help  Show this message and exit.\n"
             "\nCommands:\n",
             stdout);
  std::size_t width = 0;
  for (const auto &t : TOOLS)
    width = std::max(width, t.name.size());
  for (const auto &t : TOOLS) {
    std::printf("  %-*.*s  %.*s\n", static_cast<int>(width), static_cast<int>(t.name.size()),
                t.name.data(), static_cast<int>(t.help.size()), t.help.data());
  }
}

int usage_error(const std::string &message) {
  print_usage(stderr);
  std::fputs("Try 'vas-kit --help' for help.\n\n", stderr);
  std::fprintf(stderr, "Error: %s\n", message.c_str());
  return 2;
}

std::filesystem::path self_dir(const char *argv0) {
  std::error_code ec;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec)
    exe = std::filesystem::absolute(argv0, ec);
  return exe.parent_path();
}

} // namespace

int main(int argc, char **argv) {
  if (argc < 2) {
    print_help();
    return 0;
  }
  const std::string_view first = argv[1];
  if (first == "--help" || first == "-h") {
    print_help();
    return 0;
  }
  if (!first.empty() && first.front() == '-')
    return usage_error("No such option: " + std::string(first));

  const ToolRow *tool = nullptr;
  for (const auto &t : TOOLS)
    if (t.name == first)
      tool = &t;
  if (!tool)
    return usage_error("No such command '" + std::string(first) + "'.");

  const auto exe = self_dir(argv[0]) / ("vaskit-" + std::string(tool->name));
  // The tool names itself "vas-kit <tool>" in its usage lines.
  std::string prog = "vas-kit " + std::string(tool->name);
  std::vector<char *> args;
  args.push_back(prog.data());
  for (int i = 2; i < argc; ++i)
    args.push_back(argv[i]);
  args.push_back(nullptr);
  ::execv(exe.c_str(), args.data());
  std::fprintf(stderr, "❌ 無法啟動 %s: %s\n", exe.c_str(), std::strerror(errno));
  return 1;
}
