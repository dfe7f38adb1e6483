// Option menus and resource files of the helper layer.
#include "vaskern/fileIO_options.hpp"
#include "core/command.hpp"
#include "core/text.hpp"

#include <algorithm>
#include <cstdlib>
#include <iostream>

namespace vaskern::fileIO {
namespace stdfs = std::filesystem;
namespace {

// The 0-based index of a 1-based position given as text; nullopt when it names no option.
std::optional<std::size_t> position(const std::string &text, std::size_t count) {
  const std::string s = vaskit::text::strip(text);
  if (s.empty() || s.size() > 9 ||
      !std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return std::nullopt;
  const auto v = std::stoul(s);
  if (v < 1 || v > count)
    return std::nullopt;
  return v - 1;
}

// "vaskit.goal" → "goal"; "vaskit.a.b" → "a/b"; other names keep every component.
stdfs::path package_folder(const std::string &package_name) {
  std::string name = package_name;
  if (vaskit::text::starts_with(name, "vaskit."))
    name.erase(0, 7);
  stdfs::path out;
  for (const auto &part : vaskit::text::split(name, "."))
    if (!part.empty())
      out /= part;
  return out;
}

std::optional<stdfs::path> regular_file(const stdfs::path &p) {
  std::error_code ec;
  if (!stdfs::is_regular_file(p, ec))
    return std::nullopt;
  auto abs = stdfs::absolute(p, ec);
  if (ec)
    return std::nullopt;
  return abs.lexically_normal();
}

} // namespace

std::string select_option(const std::string &prompt_text,
                          const std::vector<std::string> &option_array, const std::string &default_,
                          const std::string &title) {
  if (option_array.empty())
    throw std::invalid_argument("沒有可選擇的選項");
  if (!title.empty())
    vaskit::cli::echo("\n" + title);
  for (std::size_t i = 0; i < option_array.size(); ++i)
    vaskit::cli::echo("  " + std::to_string(i + 1) + ". " +
                      vaskit::text::printable(option_array[i]));
  const auto fallback = position(default_, option_array.size());
  while (true) {
    std::cout << prompt_text;
    if (fallback)
      std::cout << " [" << *fallback + 1 << "]";
    std::cout << ": ";
    std::cout.flush();
    const auto answer = vaskit::cli::read_line();
    if (!answer) {
      std::cout << '\n';
      throw vaskit::cli::Abort();
    }
    if (vaskit::text::strip(*answer).empty() && fallback)
      return option_array[*fallback];
    if (const auto i = position(*answer, option_array.size()))
      return option_array[*i];
    vaskit::cli::echo("⚠️ 無效的選擇：" + vaskit::text::printable(*answer), true);
  }
}

stdfs::path executable_dir() {
  std::error_code ec;
  const auto exe = stdfs::read_symlink("/proc/self/exe", ec);
  if (ec)
    return stdfs::current_path(ec);
  return exe.parent_path();
}

std::optional<stdfs::path> get_resource_path(const std::string &package_name,
                                             const std::string &resource_name,
                                             const stdfs::path &fallback_dir,
                                             const app_logging::Logger *logger) {
  // A resource is one file of its package folder, never a path leading elsewhere.
  const stdfs::path name(resource_name);
  if (resource_name.empty() || name.has_parent_path() || resource_name == "." ||
      resource_name == "..")
    return std::nullopt;
  const stdfs::path sub = package_folder(package_name) / name;
  std::vector<stdfs::path> candidates;
  if (const char *over = std::getenv("VASKIT_RESOURCES"); over && *over)
    candidates.push_back(stdfs::path(over) / sub);
  candidates.push_back(executable_dir().parent_path() / "share" / "vaskit" / sub);
  if (!fallback_dir.empty())
    candidates.push_back(fallback_dir / name);
  for (const auto &c : candidates) {
    if (auto found = regular_file(c)) {
      if (logger)
        logger->debug("resource " + resource_name + ": " + found->string());
      return found;
    }
  }
  return std::nullopt;
}

} // namespace vaskern::fileIO
