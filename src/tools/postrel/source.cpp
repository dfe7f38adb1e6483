// Which Markdown file becomes the mail's content.
#include "core/command.hpp"
#include "core/fs.hpp"
#include "core/text.hpp"
#include "tools/postrel/postrel.hpp"
#include "vaskern/fileIO.hpp"

#include <filesystem>

namespace vaskit::postrel {
namespace {

const std::vector<std::string> kExcludePaths = {".venv", "build", "dist", "__pycache__", ".agents"};

bool exists(const std::string &path) {
  std::error_code ec;
  return std::filesystem::exists(path, ec);
}

} // namespace

Resolved resolve_markdown_file(const std::optional<std::string> &input_file,
                               const std::optional<std::string> &default_file,
                               const std::string &scan_dir,
                               const std::optional<std::vector<std::string>> &extensions,
                               const Logger *logger) {
  const Logger &out = logger ? *logger : log();
  const std::vector<std::string> exts = extensions ? *extensions : std::vector<std::string>{".md"};

  if (input_file && !input_file->empty()) {
    const std::string path = fs::path_text(*input_file);
    if (exists(path)) {
      out.info("✅ 使用命令列指定的 Markdown 檔案：" + path);
      return {path, std::nullopt};
    }
    out.error("❌ 指定的 Markdown 檔案不存在: " + path);
    return {std::nullopt, "指定的檔案不存在: " + path};
  }
  if (default_file && !default_file->empty()) {
    const std::string path = fs::path_text(*default_file);
    if (exists(path)) {
      out.info("✅ 使用 YAML 設定檔指定的 Markdown 檔案：" + path);
      return {path, std::nullopt};
    }
    out.warning("⚠️ YAML 指定的檔案不存在：" + path + "，將嘗試互動式選擇。");
  }

  out.info("🔎 正在搜尋 Markdown 檔案 (搜尋目錄: " + scan_dir + ")...");
  vaskern::fileIO::Selection chosen;
  try {
    const auto found =
        vaskern::fileIO::find_files_with_extensions(scan_dir, exts, false, "", kExcludePaths, &out);
    if (!found.empty()) {
      std::size_t newest = 0;
      auto newest_time = std::filesystem::last_write_time(found[0].path);
      for (std::size_t i = 1; i < found.size(); ++i) {
        const auto t = std::filesystem::last_write_time(found[i].path);
        if (t > newest_time) {
          newest = i;
          newest_time = t;
        }
      }
      const std::string name = fs::basename(found[newest].path);
      if (cli::confirm("💬 偵測到最新 Markdown 檔案：" + name + "，是否直接使用？", true)) {
        chosen.push_back({found[newest].path, name});
        out.info("✅ 使用者確認使用最新 Markdown 檔案：" + name);
      }
    }
  } catch (const std::exception &e) {
    out.warning(std::string("⚠️ 偵測最新 Markdown 檔案時發生異常: ") + e.what());
  }

  try {
    if (chosen.empty())
      chosen = vaskern::fileIO::scan_and_select_files(scan_dir, exts, kExcludePaths,
                                                      "Markdown 檔案", &out, true);
    if (!chosen.empty())
      return {fs::path_text(chosen.front().path), std::nullopt};
    out.warning("⚠️ 未選取任何檔案或掃描失敗。");
    return {std::nullopt, "未選取任何檔案。"};
  } catch (const std::exception &e) {
    out.error(std::string("❌ 選取檔案過程發生錯誤: ") + e.what());
    return {std::nullopt, std::string("選取檔案失敗: ") + e.what()};
  }
}

} // namespace vaskit::postrel
