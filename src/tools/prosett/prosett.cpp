#include "tools/prosett/prosett.hpp"

#include "core/command.hpp"
#include "core/fs.hpp"
#include "core/interrupt.hpp"
#include "core/re.hpp"
#include "core/text.hpp"
#include "formats/markdown/fences.hpp"
#include "formats/markdown/markdown.hpp"
#include "tools/prosett/page.hpp"
#include "tools/prosett/stages.hpp"
#include "tools/prosett/tool_help.hpp"
#include "vaskern/fileIO.hpp"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <mutex>

#include <malloc.h>

namespace vaskit::prosett {
namespace fileIO = vaskern::fileIO;
using vaskern::app_logging::Logger;

const char *const DEFAULT_YAML_CONTENT = "config:\n"
                                         "  input_path: \"./\"\n"
                                         "  output_path: \"./\"\n"
                                         "  embed_images: true\n"
                                         "  watermark_enable: false\n"
                                         "  watermark_text: \"CONFIDENTIAL\"\n";

const markdown::Extensions RENDER_EXTENSIONS{
    .hard_breaks = true,
    .heading_ids = true,
    .toc_marker = true,
    .placeholders = true,
    .markdown_in_html = markdown::MarkdownInHtml::Details,
};

const std::vector<std::string> MARKDOWN_EXCLUDE_PATHS = {".venv", "build", "dist", "__pycache__",
                                                         ".agents"};

namespace {

const char *const MSG_LATEST_MD_FOUND = "💬 偵測到最新 Markdown 檔案：";
const char *const MSG_LATEST_MD_ASK = "，是否直接使用？";
const char *const MSG_LATEST_MD_CONFIRMED = "✅ 使用者確認使用最新 Markdown 檔案：";
const char *const MSG_LATEST_MD_FAILED = "⚠️ 偵測最新 Markdown 檔案時發生異常: ";
const char *const LABEL_MARKDOWN_FILE = "Markdown 檔案";
const char *const DEBUG_DUMP_SUFFIX = "_debug.md";

std::string text_of(const json &v) {
  return config::to_text(v);
}

bool is_debug_dump(const std::string &name) {
  return text::ends_with(name, DEBUG_DUMP_SUFFIX);
}

// The converter's own debug dumps are outputs, never inputs.
fileIO::FileList without_debug_dumps(fileIO::FileList found) {
  std::erase_if(found, [](const fileIO::FileEntry &f) { return is_debug_dump(f.name); });
  return found;
}

// The pass hands texts of many megabytes from stage to stage, each stage building a new one.
// glibc would map every such block afresh and unmap it when freed, so each stage would pay the
// page faults of its output again; kept in the heap, the next stage reuses the pages instead.
void keep_large_blocks_in_heap() {
  static std::once_flag once;
  std::call_once(once, [] {
    mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);
    // Texts past that threshold (its maximum) would still be mapped afresh at every stage, so
    // no block is mapped at all: freed texts stay in the heap for the next stage.
    mallopt(M_MMAP_MAX, 0);
    mallopt(M_TRIM_THRESHOLD, 512 * 1024 * 1024);
  });
}

// The heap keeps freed blocks (above). The stages before rendering reuse them, one text taking
// the place of the one before; but after them the renderer, and after it each page stage,
// needs a larger text than any block set free, so each would leave one more text's pages
// resident. For a long text their pages go back to the system there instead: those texts would
// take fresh pages anyway, and the peak stays near what the pass holds at once. A short text's
// pages are few, and the blocks it sets free serve the smaller allocations that follow.
constexpr std::size_t kReturnPagesFrom = std::size_t{4} << 20;

void return_free_pages(std::size_t text_size) {
  if (text_size >= kReturnPagesFrom)
    malloc_trim(0);
}

} // namespace

Logger &log() {
  static Logger &logger = vaskern::app_logging::lazy_logger("Prosett");
  return logger;
}

ProsettConverter::ProsettConverter(const json &config_dict) {
  config = config::get_or(config_dict, "config", json::object());
  input_path = text_of(config::get_or(config, "input_path", "./"));
  output_path = text_of(config::get_or(config, "output_path", "./"));
  embed_images = config::get_or(config, "embed_images", true);
  watermark_enable = config::get_or(config, "watermark_enable", false);
  watermark_text = config::get_or(config, "watermark_text", "CONFIDENTIAL");
  const char *env = std::getenv("DAVUZ_DEBUG");
  is_debug = env && std::string_view(env) == "1";
}

std::optional<std::string>
ProsettConverter::_encode_image_base64(const std::string &img_path) const {
  return encode_image_base64(img_path);
}

namespace {

// The rewrites on validated text: the pass checks its text once, when it is read.
re::Utf8Text remove_notion_properties(re::Utf8 md) {
  static const re::Pattern pattern(
      R"(^(Person|Created|Updated|language|version\.|Tags|Status|Assignee).*?:.*$)",
      re::MULTILINE | re::IGNORECASE);
  re::Utf8Text out;
  out.reserve(md.size());
  rewrite_outside_fences(md, out,
                         [](re::Utf8 part, re::Utf8Text &to) { pattern.sub_into(to, "", part); });
  return out;
}

re::Utf8Text squeeze_blank_lines(re::Utf8 md) {
  static const re::Pattern pattern(R"(\n{3,})");
  re::Utf8Text out;
  out.reserve(md.size());
  rewrite_outside_fences(
      md, out, [](re::Utf8 part, re::Utf8Text &to) { pattern.sub_into(to, "\n\n", part); });
  return out;
}

// Where the [TOC] marker goes, and the marker; nullopt when the text gets none.
std::optional<std::pair<std::size_t, std::string_view>> toc_marker_place(re::Utf8 valid) {
  static const re::Pattern author(R"((?m)^(\*\*Author:\*\*.*)$)");
  // A heading marker must be followed by blanks on its own line: a lone "#" is no heading.
  static const re::Pattern heading(R"(^#[^\S\r\n]+.*$)", re::MULTILINE);
  const std::string_view md = valid.view();
  const auto ranges = markdown::fenced_ranges(md);
  // The ranges are sorted and disjoint: only the last one beginning at or before `at` can hold it.
  auto outside_code = [&](std::size_t at) {
    const auto after = std::upper_bound(
        ranges.begin(), ranges.end(), at,
        [](std::size_t p, const std::pair<std::size_t, std::size_t> &r) { return p < r.first; });
    return after == ranges.begin() || at >= std::prev(after)->second;
  };
  auto first_outside = [&](const re::Pattern &p) {
    std::optional<std::size_t> end;
    p.for_each(valid, [&](const re::Match &m) {
      if (!outside_code(m.start()))
        return true;
      end = m.end();
      return false;
    });
    return end;
  };
  auto end = first_outside(author);
  if (!end)
    end = first_outside(heading);
  if (!end && md.find('#') == std::string_view::npos)
    return std::nullopt;
  const std::size_t at = end ? *end : 0;
  const std::string_view marker = end ? "\n\n[TOC]\n\n" : "[TOC]\n\n";
  return std::make_pair(at, marker);
}

re::Utf8Text insert_toc_marker(re::Utf8Text md) {
  const auto place = toc_marker_place(md.view());
  if (!place)
    return md;
  re::Utf8Text out;
  out.reserve(md.size() + place->second.size());
  out.append(md.view().substr(0, place->first));
  out.append_checked(place->second);
  out.append(md.view().substr(place->first));
  return out;
}

} // namespace

std::string remove_notion_properties(const std::string &md) {
  return remove_notion_properties(re::Utf8::check(md)).release();
}

std::string squeeze_blank_lines(const std::string &md) {
  return squeeze_blank_lines(re::Utf8::check(md)).release();
}

std::string insert_toc_marker(std::string md) {
  const auto place = toc_marker_place(re::Utf8::check(md));
  if (!place)
    return md;
  const auto &[at, marker] = *place;
  if (md.capacity() - md.size() >= marker.size()) {
    md.insert(at, marker);
    return md;
  }
  // Growing in place would double the block; one exact copy is cheaper.
  std::string out;
  out.reserve(md.size() + marker.size());
  out.append(md, 0, at).append(marker).append(md, at);
  return out;
}

namespace {

std::string find_version(re::Utf8 md) {
  static const re::Pattern pattern(R"(\*\*Version:\*\*\s*\[?`?([^\]\s<&|`]+)`?\]?)");
  auto m = pattern.search(md);
  return m ? std::string(m->group(1)) : std::string();
}

} // namespace

std::string find_version(const std::string &md) {
  return find_version(re::Utf8::check(md));
}

std::string output_name(const std::string &md_name, const std::string &version,
                        bool watermark_enable, const std::string &watermark_text) {
  std::vector<std::string> parts{fs::splitext(fs::basename(md_name)).first};
  if (!version.empty()) {
    // The version comes from the document: it may name the file, never a path.
    static const re::Pattern unsafe(R"([^\w.\-]+)");
    static const re::Pattern dots(R"(\.{2,})");
    parts.push_back(dots.sub("_", unsafe.sub("_", version)));
  }
  if (watermark_enable && !watermark_text.empty()) {
    static const re::Pattern non_word(R"(\W+)");
    const std::string safe = text::strip_chars(non_word.sub("_", watermark_text), "_");
    if (!safe.empty())
      parts.push_back(safe);
  }
  return text::join(parts, "_") + ".html";
}

FileList ProsettConverter::choose_files(const std::optional<std::string> &target_file) const {
  FileList selected;
  if (target_file && !target_file->empty()) {
    selected.push_back({fs::abspath(*target_file), fs::basename(*target_file)});
    log().info("✅ 已手動指定處理單一檔案：" + *target_file);
  } else {
    try {
      const auto md_files = paths_of(without_debug_dumps(fileIO::find_files_with_extensions(
          input_path, {".md"}, false, "", MARKDOWN_EXCLUDE_PATHS, &log())));
      if (!md_files.empty()) {
        std::size_t latest = 0;
        auto latest_time = std::filesystem::last_write_time(md_files[0]);
        for (std::size_t i = 1; i < md_files.size(); ++i) {
          const auto t = std::filesystem::last_write_time(md_files[i]);
          if (t > latest_time) {
            latest = i;
            latest_time = t;
          }
        }
        const std::string latest_name = fs::basename(md_files[latest]);
        if (cli::confirm(std::string(MSG_LATEST_MD_FOUND) + latest_name + MSG_LATEST_MD_ASK,
                         true)) {
          selected.push_back({md_files[latest], latest_name});
          log().info(MSG_LATEST_MD_CONFIRMED + latest_name);
        }
      }
    } catch (const std::exception &e) {
      log().warning(MSG_LATEST_MD_FAILED + std::string(e.what()));
    }
    if (selected.empty()) {
      selected = fileIO::scan_and_select_files(
          input_path, {".md"}, MARKDOWN_EXCLUDE_PATHS, LABEL_MARKDOWN_FILE, &log(), true,
          [](const std::string &name) { return !is_debug_dump(name); });
    }
    if (selected.empty()) {
      log().error("❌ 使用者未選擇任何 Markdown 檔案，或該路徑下無檔案。");
      return selected;
    }
  }
  if (is_debug)
    log().debug("偵錯模式已開啟。找到並選擇了 " + std::to_string(selected.size()) +
                " 個 Markdown 檔案。");
  return selected;
}

re::Utf8Text prepare_markdown(std::string text) {
  // The text is checked once here; every stage up to the renderer keeps it valid. A NUL is read
  // as U+FFFD before any stage sees it: the code and formulas taken out before rendering would
  // otherwise carry it into the page.
  re::Utf8Text md_content = re::Utf8Text::check(markdown::replace_nul(std::move(text)));
  md_content = remove_notion_properties(md_content.view());
  md_content = squeeze_blank_lines(md_content.view());
  return insert_toc_marker(std::move(md_content));
}

std::string render_markdown(re::Utf8Text md_content, const std::string &md_file,
                            const EncodeImageFn &encode_image_fn, bool is_debug) {
  md_content = preprocess_details_and_lists(md_content.view());
  auto shielded = protect_markdown_code_and_math(md_content.view());
  // Each stage works on a copy of its own; the large texts go as soon as they are used up,
  // which keeps the pass's peak memory down.
  const std::size_t text_size = md_content.size();
  md_content.release();
  return_free_pages(text_size);
  std::string rendered = markdown::render_owned(std::move(shielded.text), RENDER_EXTENSIONS);
  return_free_pages(text_size);
  rendered = restore_markdown_code_and_math(rendered, shielded.code_placeholders,
                                            shielded.math_placeholders);
  shielded = ShieldedMarkdown();
  return_free_pages(text_size);
  // What the renderer wrote is checked once; the page stages keep it valid. A stage that
  // changes nothing hands its text on as it is.
  re::Utf8Text html_body = re::Utf8Text::check(std::move(rendered));
  html_body = process_mermaid_charts(std::move(html_body));
  return_free_pages(text_size);
  html_body = process_wavedrom_charts(std::move(html_body));
  return_free_pages(text_size);
  html_body = process_markdown_alerts(std::move(html_body));
  return_free_pages(text_size);
  if (encode_image_fn) {
    html_body = embed_images_in_html(std::move(html_body), md_file, encode_image_fn, is_debug);
    return_free_pages(text_size);
  }
  return html_body.release();
}

bool ProsettConverter::convert_file(const std::string &md_file, const std::string &md_name) const {
  log().info("✅ 正在處理: " + md_file);
  std::string loaded =
      fileIO::load_local_file_content(md_file, "Markdown 檔案: " + md_name, &log());
  if (loaded.empty()) {
    // Unreadable files were reported by the reader; an empty one is said here.
    std::error_code ec;
    if (std::filesystem::is_regular_file(md_file, ec) &&
        std::filesystem::file_size(md_file, ec) == 0)
      log().warning("⚠️ 檔案內容為空，未產生頁面: " + md_file);
    return false;
  }

  re::Utf8Text md_content = prepare_markdown(std::move(loaded));
  const std::string version_str = find_version(md_content.view());

  if (is_debug) {
    const auto dump_path =
        fileIO::setup_output_file(output_path, md_name + DEBUG_DUMP_SUFFIX, &log());
    fileIO::save_local_file_content(dump_path, md_content.str(), "Markdown 偵錯檔: " + md_name,
                                    &log());
    log().debug("[" + md_name + "] 已儲存預處理之 Markdown 至 " + dump_path);
  }

  EncodeImageFn encode;
  if (config::truthy(embed_images))
    encode = [this](const std::string &path) { return _encode_image_base64(path); };
  const std::string html_body = render_markdown(std::move(md_content), md_file, encode, is_debug);

  const bool watermark_on = config::truthy(watermark_enable);
  const std::string configured_text = text_of(watermark_text);
  const std::string page_watermark = watermark_on ? configured_text : std::string();
  const std::string final_html = generate_final_html(md_name, html_body, page_watermark);

  if (!version_str.empty())
    log().info("✅ 成功找到版本號碼: " + version_str);
  else
    log().info("🔍 未在 Markdown 中找到版本號碼");

  const std::string out_name = output_name(md_name, version_str, watermark_on, configured_text);
  const std::string out_path = fileIO::setup_output_file(output_path, out_name);
  return fileIO::save_local_file_content(out_path, final_html, "HTML 頁面:").ok;
}

Outcome ProsettConverter::run(const std::optional<std::string> &target_file) const {
  keep_large_blocks_in_heap();
  log().info("✅ 開始 Prosett 轉換程序。輸入路徑：" + input_path);
  // An output folder this run creates goes again if an interrupt ends the run before a page
  // is in it.
  std::optional<interrupt::RemoveOnInterrupt> new_output_folders;
  if (auto missing = fs::missing_folders(output_path); !missing.empty())
    new_output_folders.emplace(missing, interrupt::Removal::empty_folder);
  fileIO::setup_output_dir(output_path, &log());

  const auto selected_files = choose_files(target_file);
  if (selected_files.empty())
    return Outcome::run_failed("使用者取消或未找到檔案");

  std::size_t written = 0;
  for (const auto &[md_file, md_name] : selected_files) {
    try {
      if (convert_file(md_file, md_name))
        ++written;
    } catch (const std::exception &e) {
      log().error("❌ 處理 " + md_file + " 失敗: " + e.what());
    }
  }
  // A pass that left files without a page must not report success.
  if (written < selected_files.size())
    return Outcome::items_failed(selected_files.size() - written,
                                 "僅寫出 " + std::to_string(written) + " 個頁面（共 " +
                                     std::to_string(selected_files.size()) + " 個檔案）");
  return Outcome::done("prosett 執行成功。");
}

const cli::Command<Options> &prosett_command() {
  static const cli::Command<Options> command{
      .name = "prosett",
      .help = std::string(TOOL_HELP),
      .epilog = cli::examples_epilog({
          cli::generate_config_example("prosett"),
          cli::run_with_config_example("prosett"),
          {"Run with default settings (Default mode):", {"vas-kit prosett"}},
          cli::choose_config_example("prosett"),
          {"Specify the output directory (when -o is provided without arguments, it defaults to "
           "current directory):",
           {"vas-kit prosett -o"}},
          {"Specify a custom output directory:", {"vas-kit prosett -o ./my-outputs"}},
          {"Process a specific Markdown file (skips interactive selection):",
           {"vas-kit prosett -f my_document.md"}},
      }),
      .options = {
          cli::yaml_config_option<Options>(),
          cli::generate_config_option<Options>("Generate config_prosett_template.yaml"),
          cli::debug_option<Options>(),
          {{"-o", "--output-dir"},
           &Options::output_dir,
           cli::PathCheck{},
           "Specify the output directory for generated files."},
          {{"-f", "--file"},
           &Options::file,
           cli::PathCheck{true, true, false},
           "Specify the Markdown file to process. If provided, skips interactive selection."},
      }};
  return command;
}

int cmd_prosett(const Options &options) {
  vaskern::app_logging::debug_switch(options.debug, "VasAgy");
  // An empty file, or a "config" key without a value, asks for the defaults.
  auto resolved = fileIO::start_yaml_command(options.generate_config, options.config,
                                             {.default_text = DEFAULT_YAML_CONTENT,
                                              .template_file = "config_prosett_template.yaml",
                                              .logger = &log(),
                                              .config_section = true});
  if (!resolved.config)
    return resolved.status;
  json &loaded_cfg = resolved.config->mapping;
  if (options.output_dir) {
    const std::string dir = options.output_dir->empty() ? "./" : *options.output_dir;
    loaded_cfg["config"]["output_path"] = dir;
    log().info("✅ 已手動指定輸出目錄：" + dir);
  }

  const ProsettConverter app(loaded_cfg);
  return cli::finish(app.run(options.file));
}

} // namespace vaskit::prosett
