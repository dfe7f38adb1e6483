#include "vaskern/fileIO.hpp"

#include "core/command.hpp"
#include "core/fs.hpp"
#include "core/text.hpp"

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <set>
#include <tuple>

namespace vaskern::fileIO {
namespace stdfs = std::filesystem;
namespace {

void report_error(const Logger *logger, const std::string &text) {
  if (logger)
    logger->error(text);
  else
    vaskit::cli::echo(text, true);
}

std::string normalised_ext(std::string e) {
  e = vaskit::text::lower(e);
  if (!e.empty() && e.front() != '.')
    e.insert(e.begin(), '.');
  return e;
}

std::string parse_error_text(const std::string &what, const vaskit::config::ParseError &e) {
  std::string where = what;
  if (e.line > 0)
    where += " (line " + std::to_string(e.line) + ", column " + std::to_string(e.column) + ")";
  return "❌ 無法解析 " + where + ": " + e.what();
}

// " (line L, column C)" of the first byte that is not UTF-8, counted as the parse errors count.
std::string first_invalid_position(std::string_view data) {
  int line = 1, column = 1;
  for (const auto &unit : vaskit::text::code_points(data)) {
    if (!unit.ok)
      break;
    if (unit.cp == '\n') {
      ++line;
      column = 1;
    } else {
      ++column;
    }
  }
  return " (line " + std::to_string(line) + ", column " + std::to_string(column) + ")";
}

std::optional<std::size_t> parse_index(const std::string &s, std::size_t count) {
  if (s.empty() || s.size() > 9 ||
      !std::all_of(s.begin(), s.end(), [](char c) { return vaskit::text::is_ascii_digit(c); }))
    return std::nullopt;
  const auto v = std::stoul(s);
  if (v < 1 || v > count)
    return std::nullopt;
  return v - 1;
}

// Parses "2", "1,3", "2-4" or "all" into indices; nullopt for anything else.
std::optional<std::vector<std::size_t>> parse_choice(const std::string &answer, std::size_t count) {
  const std::string a = vaskit::text::lower(vaskit::text::strip(answer));
  std::vector<std::size_t> out;
  if (a == "all" || a == "a") {
    for (std::size_t i = 0; i < count; ++i)
      out.push_back(i);
    return out;
  }
  for (auto part : vaskit::text::split(a, ",")) {
    part = vaskit::text::strip(part);
    if (part.empty())
      continue;
    if (auto dash = part.find('-'); dash != std::string::npos) {
      auto lo = parse_index(vaskit::text::strip(part.substr(0, dash)), count);
      auto hi = parse_index(vaskit::text::strip(part.substr(dash + 1)), count);
      if (!lo || !hi || *lo > *hi)
        return std::nullopt;
      for (auto i = *lo; i <= *hi; ++i)
        out.push_back(i);
    } else {
      auto i = parse_index(part, count);
      if (!i)
        return std::nullopt;
      out.push_back(*i);
    }
  }
  if (out.empty())
    return std::nullopt;
  std::vector<std::size_t> unique;
  for (auto i : out)
    if (std::find(unique.begin(), unique.end(), i) == unique.end())
      unique.push_back(i);
  return unique;
}

} // namespace

std::string save_yaml_template(const std::string &content, const std::string &file_name) {
  try {
    vaskit::fs::write_file_atomic(file_name, content);
    return vaskit::fs::abspath(file_name);
  } catch (const std::exception &e) {
    report_error(nullptr, "❌ 無法寫入範本 " + file_name + ": " + e.what());
    return "";
  }
}

int template_written(const std::string &written, const std::string &line, bool printable_path) {
  if (written.empty())
    return vaskit::cli::finish(vaskit::Outcome::run_failed());
  return vaskit::cli::finish(
      vaskit::Outcome::done(printable_path ? vaskit::text::printable(written) : written),
      {line, "", true});
}

std::optional<json> load_yaml_string(const std::string &text, const std::string &label) {
  try {
    return vaskit::config::parse_yaml(text);
  } catch (const vaskit::config::ParseError &e) {
    report_error(nullptr, parse_error_text(label, e));
  } catch (const std::exception &e) {
    report_error(nullptr, "❌ 無法解析 " + label + ": " + e.what());
  }
  return std::nullopt;
}

std::optional<std::string>
read_config_text(const std::string &path, const std::string &kind,
                 const std::function<void(const std::string &)> &report) {
  std::string data;
  try {
    if (stdfs::is_directory(path))
      throw std::runtime_error("是資料夾，不是檔案");
    data = vaskit::fs::read_file(path);
  } catch (const std::exception &e) {
    report("❌ 無法讀取" + kind + " " + path + ": " + e.what());
    return std::nullopt;
  }
  if (!vaskit::text::valid_utf8(data)) {
    report("❌ 無法解析" + kind + " " + path + first_invalid_position(data) +
           ": 檔案不是 UTF-8 文字");
    return std::nullopt;
  }
  if (data.rfind("\xEF\xBB\xBF", 0) == 0)
    data.erase(0, 3);
  return data;
}

std::optional<json> load_yaml_config(const std::string &path) {
  const auto data = read_config_text(path, "設定檔",
                                     [](const std::string &line) { report_error(nullptr, line); });
  if (!data)
    return std::nullopt;
  try {
    return vaskit::config::parse_yaml(*data);
  } catch (const vaskit::config::ParseError &e) {
    report_error(nullptr, parse_error_text(path, e));
  } catch (const std::exception &e) {
    report_error(nullptr, "❌ 無法解析 " + path + ": " + e.what());
  }
  return std::nullopt;
}

FileList find_files_with_extensions(const std::string &folder,
                                    const std::vector<std::string> &extensions, bool recursive,
                                    const std::string &prefix,
                                    const std::vector<std::string> &exclude_paths,
                                    const Logger *logger) {
  FileList out;
  std::set<std::string> exts;
  for (const auto &e : extensions)
    exts.insert(normalised_ext(e));
  const std::set<std::string> excluded(exclude_paths.begin(), exclude_paths.end());

  std::error_code ec;
  auto consider = [&](const stdfs::directory_entry &entry) {
    std::error_code fec;
    if (!entry.is_regular_file(fec))
      return;
    const std::string name = entry.path().filename().string();
    if (!prefix.empty() && name.rfind(prefix, 0) != 0)
      return;
    if (excluded.count(name))
      return;
    const auto ext = normalised_ext(vaskit::fs::splitext(name).second);
    if (!exts.empty() && (ext == "." || !exts.count(ext)))
      return;
    out.push_back({entry.path().string(), name});
  };
  if (!stdfs::is_directory(folder, ec)) {
    if (logger)
      logger->warning("⚠️ 找不到資料夾: " + folder);
    return out;
  }
  if (recursive) {
    stdfs::recursive_directory_iterator it(folder, stdfs::directory_options::skip_permission_denied,
                                           ec),
        end;
    for (; !ec && it != end; it.increment(ec)) {
      std::error_code dec;
      if (it->is_directory(dec) && excluded.count(it->path().filename().string())) {
        it.disable_recursion_pending();
        continue;
      }
      consider(*it);
    }
  } else {
    // Stepping with an error code: a folder that fails half-way gives what was listed so far.
    stdfs::directory_iterator it(folder, ec), end;
    for (; !ec && it != end; it.increment(ec))
      consider(*it);
  }
  std::sort(out.begin(), out.end(), [](const FileEntry &a, const FileEntry &b) {
    return std::tie(a.name, a.path) < std::tie(b.name, b.path);
  });
  return out;
}

Selection interactive_select_files(const FileList &files, const std::string &extension) {
  Selection chosen;
  if (files.empty())
    return chosen;
  for (std::size_t i = 0; i < files.size(); ++i)
    vaskit::cli::echo("  [" + std::to_string(i + 1) + "] " +
                      vaskit::text::printable(files[i].name));
  const std::string what = extension.empty() ? "檔案" : extension + " 檔案";
  while (true) {
    std::cout << "💬 請輸入要使用的" << what
              << "編號 (例如 1、1,3、1-3 或 all；直接按 Enter 取消): ";
    std::cout.flush();
    auto answer = vaskit::cli::read_line();
    if (!answer) {
      std::cout << '\n';
      return chosen;
    }
    if (vaskit::text::strip(*answer).empty())
      return chosen;
    if (auto idx = parse_choice(*answer, files.size())) {
      for (auto i : *idx)
        chosen.push_back(files[i]);
      return chosen;
    }
    vaskit::cli::echo("⚠️ 無效的選擇：" + vaskit::text::printable(*answer), true);
  }
}

Selection scan_and_select_files(const std::string &folder,
                                const std::vector<std::string> &extensions,
                                const std::vector<std::string> &exclude_paths,
                                const std::string &label, const Logger *logger,
                                bool auto_select_single,
                                const std::function<bool(const std::string &)> &keep) {
  FileList found = find_files_with_extensions(folder, extensions, false, "", exclude_paths, logger);
  if (keep)
    std::erase_if(found, [&](const FileEntry &f) { return !keep(f.name); });
  if (found.empty()) {
    if (logger)
      logger->warning("⚠️ 在 " + folder + " 中找不到任何" + label);
    return {};
  }
  if (auto_select_single && found.size() == 1)
    return found;
  vaskit::cli::echo("\n--- 💬 請選擇" + label + " (直接按 Enter 取消) ---");
  return interactive_select_files(found);
}

void setup_output_dir(const std::string &folder, const Logger *logger) {
  std::error_code ec;
  if (folder.empty() || stdfs::is_directory(folder, ec))
    return;
  stdfs::create_directories(folder, ec);
  // The caller goes on; every write into the folder then fails and is reported on its own.
  if (ec) {
    report_error(logger, "❌ 無法建立輸出資料夾 " + folder + ": " + ec.message());
    return;
  }
  if (logger)
    logger->info("✅ 已建立輸出資料夾：" + folder);
}

std::string setup_output_file(const std::string &folder, const std::string &file_name,
                              const Logger * /*logger*/) {
  return vaskit::fs::join(folder, file_name);
}

std::string load_local_file_content(const std::string &path, const std::string &label,
                                    const Logger *logger) {
  std::string data;
  try {
    // A FIFO or device would hold the run until something writes to it: only files are read.
    data = vaskit::fs::read_regular_file(path);
  } catch (const std::exception &e) {
    report_error(logger, "❌ 無法讀取 " + label + ": " + e.what());
    return "";
  }
  if (!vaskit::text::valid_utf8(data)) {
    report_error(logger, "❌ 無法讀取 " + label + ": 檔案不是有效的 UTF-8 文字");
    return "";
  }
  // A byte-order mark is not part of the text.
  if (data.rfind("\xEF\xBB\xBF", 0) == 0)
    data.erase(0, 3);
  return data;
}

vaskit::Result save_local_file_content(const std::string &path, const std::string &text,
                                       const std::string &label, const Logger *logger) {
  try {
    vaskit::fs::write_file_atomic(path, text);
    return {true, path};
  } catch (const std::exception &e) {
    const std::string msg = "❌ 無法儲存 " + label + " " + path + ": " + e.what();
    report_error(logger, msg);
    return {false, msg};
  }
}

} // namespace vaskern::fileIO
