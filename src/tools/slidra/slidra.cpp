#include "tools/slidra/slidra.hpp"

#include "tools/slidra/tool_help.hpp"

#include "core/command.hpp"
#include "core/fs.hpp"
#include "core/interrupt.hpp"
#include "core/text.hpp"
#include "vaskern/fileIO.hpp"

#include <cmath>
#include <cstdlib>
#include <filesystem>

namespace vaskit::slidra {

namespace fileIO = vaskern::fileIO;
namespace stdfs = std::filesystem;

Logger &log() {
  return vaskern::app_logging::lazy_logger("Slidra");
}

const std::string DEFAULT_YAML_CONTENT = "config:\n"
                                         "  scan_dir: \"./\"\n"
                                         "  target_slides: \"all\"\n"
                                         "  search_keyword: \"crop_region\"\n"
                                         "  scale_width: 4800\n"
                                         "  padding: -40\n";

namespace {

const char *MSG_NO_DECK = "未選取任何有效簡報檔案，結束執行。";
const char *MSG_NO_SLIDES = "沒有指定任何有效的投影片頁碼，結束執行。";
const char *MSG_GLOBAL = "運行發生全域錯誤: ";
const char *TEMP_TEMPLATE = "temp_full_slide_{idx}.png";

// Widths beyond this give images of gigabytes per slide.
constexpr std::int64_t kMaxScaleWidth = 20000;

// A whole number (an integer, or a float without fraction); booleans and text are not.
std::optional<std::int64_t> whole_number(const json &v) {
  if (v.is_number_integer()) {
    if (v.is_number_unsigned() &&
        v.get<std::uint64_t>() > std::uint64_t(std::numeric_limits<std::int64_t>::max()))
      return std::nullopt;
    return v.get<std::int64_t>();
  }
  if (v.is_number_float()) {
    const double d = v.get<double>();
    if (std::isfinite(d) && d == std::trunc(d) && std::fabs(d) < 9.2e18)
      return static_cast<std::int64_t>(d);
  }
  return std::nullopt;
}

std::string list_text(const std::vector<int> &v) {
  std::string s = "[";
  for (std::size_t i = 0; i < v.size(); ++i)
    s += (i ? ", " : "") + std::to_string(v[i]);
  return s + "]";
}

std::string text_of(const json &v) {
  return config::to_text(v);
}

bool file_exists(const std::string &path) {
  std::error_code ec;
  return !path.empty() && stdfs::is_regular_file(path, ec);
}

void remove_file(const std::string &path) {
  std::error_code ec;
  stdfs::remove(path, ec);
}

} // namespace

SlidraApp::SlidraApp(const json &config_dict, std::unique_ptr<SlideExporter> exporter)
    : exporter_(std::move(exporter)) {
  config = config_dict.is_object() && config_dict.contains("config") ? config_dict.at("config")
                                                                     : json::object();
  if (!config.is_object())
    config = json::object();
  scan_dir = config::get_or(config, "scan_dir", "./");
  target_slides = config::get_or(config, "target_slides", "all");
  search_keyword = config::get_or(config, "search_keyword", "crop_region");
  // Printed as a path object prints: the default "./" gives "img".
  output_dir = fs::path_text(fs::join(text_of(scan_dir), "img"));
  scale_width = config::get_or(config, "scale_width", 4800);
  padding = config::get_or(config, "padding", -40);
}

namespace {

// The template's "{idx}" filled with each slide number: the paths as given, and absolute.
std::pair<std::vector<std::string>, std::vector<std::string>>
fill_template(const std::string &output_template, const std::vector<int> &slide_indices) {
  std::vector<std::string> paths, abs_paths;
  for (const int n : slide_indices) {
    paths.push_back(text::replace_all(output_template, "{idx}", std::to_string(n)));
    abs_paths.push_back(fs::abspath(paths.back()));
  }
  return {paths, abs_paths};
}

} // namespace

std::map<int, std::string>
SlidraApp::export_slides_to_high_res_png(const std::string &pptx_path,
                                         const std::vector<int> &slide_indices,
                                         const std::string &output_template) {
  const std::string abs_pptx = fs::abspath(pptx_path);
  const auto deck = pptx::Presentation::open(abs_pptx);
  const auto size = deck.slide_size();
  if (!size || size->cx <= 0 || size->cy <= 0)
    throw std::runtime_error("簡報檔案沒有有效的投影片尺寸");
  const auto [paths, abs_paths] = fill_template(output_template, slide_indices);
  if (!exporter_)
    exporter_ = make_libreoffice_exporter();
  exporter_->export_slides(abs_pptx, slide_indices, abs_paths,
                           static_cast<int>(*whole_number(scale_width)), *size);
  std::map<int, std::string> exported;
  for (std::size_t i = 0; i < slide_indices.size(); ++i) {
    exported[slide_indices[i]] = paths[i];
    log().info("✅ 已將第 " + std::to_string(slide_indices[i]) +
               " 頁簡報匯出為高解析度全圖: " + paths[i]);
  }
  return exported;
}

struct SlidraApp::Pass {
  std::int64_t padding = 0;
  std::string keyword;
  std::string scan;
  std::string pptx_path;
  bool made_output_dir = false; // the image folder did not exist before this pass
  // Full-slide images not deleted yet: slide number -> path.
  std::map<int, std::string> exported_paths;
  std::vector<std::string> cropped_images;
  std::int64_t global_img_idx = 1;
  // What an interrupt removes while the pass runs.
  std::optional<interrupt::RemoveOnInterrupt> new_output_dir;
  std::optional<interrupt::RemoveOnInterrupt> full_slide_images;
};

// Settings the export and the cropping depend on are checked before anything is touched.
std::optional<Result> SlidraApp::check_settings(Pass &pass) const {
  auto refuse = [](const std::string &msg) {
    log().error("❌ " + msg);
    return Result{false, msg};
  };
  const auto width = whole_number(scale_width);
  if (!width || *width < 1 || *width > kMaxScaleWidth)
    return refuse("設定 scale_width 必須是 1 到 " + std::to_string(kMaxScaleWidth) +
                  " 之間的整數，目前為: " + text_of(scale_width));
  const auto pad = whole_number(padding);
  if (!pad)
    return refuse("設定 padding 必須是整數，目前為: " + text_of(padding));
  if (!search_keyword.is_string())
    return refuse("設定 search_keyword 必須是文字，目前為: " + text_of(search_keyword));
  pass.padding = *pad;
  pass.keyword = search_keyword.get<std::string>();
  pass.scan = text_of(scan_dir);
  return std::nullopt;
}

bool SlidraApp::choose_deck(Pass &pass) const {
  log().info("✅ 🚀 Starting Slidra process in '" + pass.scan +
             "'. Please select a PowerPoint file.");
  const auto chosen =
      fileIO::scan_and_select_files(pass.scan, {".pptx"}, {}, "簡報檔案", &log(), true);
  if (chosen.empty())
    return false;
  pass.pptx_path = chosen.front().path;
  return true;
}

std::int64_t SlidraApp::count_slides(const Pass &pass) const {
  const auto deck = pptx::Presentation::open(pass.pptx_path);
  const auto size = deck.slide_size();
  // Without a slide size no box can be placed on any slide.
  if (!size || size->cx <= 0 || size->cy <= 0)
    throw std::runtime_error(pass.pptx_path + ": 簡報檔案沒有有效的投影片尺寸 (p:sldSz)");
  const auto total = static_cast<std::int64_t>(deck.slide_count());
  log().info("✅ 📊 簡報檔案共有 " + std::to_string(total) + " 頁");
  return total;
}

void SlidraApp::prepare_output_dir(Pass &pass) const {
  std::error_code ec;
  pass.made_output_dir = !stdfs::exists(output_dir, ec);
  if (pass.made_output_dir)
    pass.new_output_dir.emplace(std::vector<stdfs::path>{output_dir},
                                interrupt::Removal::empty_folder);
  fileIO::setup_output_dir(output_dir, &log());
  if (!stdfs::is_directory(output_dir, ec))
    throw std::runtime_error("無法建立輸出資料夾 " + output_dir);
}

void SlidraApp::export_chosen_slides(Pass &pass, const std::vector<int> &slide_indices) {
  // Registered before the first image is written; each is deleted after its slide.
  const auto abs_paths = fill_template(TEMP_TEMPLATE, slide_indices).second;
  pass.full_slide_images.emplace(std::vector<stdfs::path>(abs_paths.begin(), abs_paths.end()),
                                 interrupt::Removal::file);
  pass.exported_paths = export_slides_to_high_res_png(pass.pptx_path, slide_indices, TEMP_TEMPLATE);
}

void SlidraApp::crop_slides(Pass &pass, const std::vector<int> &slide_indices) {
  for (const int n : slide_indices) {
    log().info("✅ 正在處理第 " + std::to_string(n) + " 頁 ---");
    const auto it = pass.exported_paths.find(n);
    if (it == pass.exported_paths.end() || !file_exists(it->second)) {
      log().warning("⚠️ 找不到第 " + std::to_string(n) + " 頁的簡報匯出圖片，略過該頁。");
      continue;
    }
    try {
      const auto targets = get_target_shapes_bbox_ratios(pass.pptx_path, n, pass.keyword);
      const auto [files, next] = crop_slide_targets(it->second, targets, output_dir, pass.padding,
                                                    pass.global_img_idx, n, &log());
      pass.cropped_images.insert(pass.cropped_images.end(), files.begin(), files.end());
      pass.global_img_idx = next;
      const auto tried = static_cast<std::int64_t>(targets.size());
      images_.tried += tried;
      images_.unsaved += tried - static_cast<std::int64_t>(files.size());
    } catch (const std::exception &e) {
      log().error("❌ 處理第 " + std::to_string(n) + " 頁時發生錯誤: " + e.what());
    }
    remove_file(it->second);
    pass.exported_paths.erase(it);
  }
}

void SlidraApp::write_preview(const Pass &pass) const {
  if (pass.cropped_images.empty())
    return;
  const std::string preview_path = fs::path_text(fs::join(pass.scan, "img_preview.md"));
  const auto lines = generate_preview_content(pass.cropped_images);
  std::string content;
  for (std::size_t i = 0; i < lines.size(); ++i)
    content += (i ? "\n" : "") + lines[i];
  bool written = false;
  {
    // An interrupt waits until the preview is whole and in place.
    const interrupt::Hold hold;
    written = fileIO::save_local_file_content(preview_path, content, "預覽文件", &log()).ok;
  }
  // A preview that was not written is not a success.
  if (!written)
    throw std::runtime_error("預覽文件未能寫入: " + preview_path);
  log().info("🎉 【預覽生成成功】已將影像連結寫入: " + preview_path);
}

// No full-slide image outlives the run, and an output folder this run made for nothing is taken
// away again.
Result SlidraApp::end_with_global_error(Pass &pass, const std::string &what) const {
  for (const auto &[n, path] : pass.exported_paths)
    remove_file(path);
  std::error_code ec;
  if (pass.made_output_dir && stdfs::is_directory(output_dir, ec) &&
      stdfs::is_empty(output_dir, ec))
    stdfs::remove(output_dir, ec);
  log().error(std::string("❌ ") + MSG_GLOBAL + what);
  return {false, MSG_GLOBAL + what};
}

Result SlidraApp::run() {
  last_ = run_stages();
  return last_;
}

Result SlidraApp::run_stages() {
  images_ = {};
  Pass pass;
  if (auto refused = check_settings(pass))
    return *refused;
  if (!choose_deck(pass)) {
    log().warning(std::string("⚠️ ") + MSG_NO_DECK);
    return {false, MSG_NO_DECK};
  }
  try {
    const auto slide_indices = parse_slide_indices(target_slides, count_slides(pass));
    if (slide_indices.empty()) {
      log().warning(std::string("⚠️ ") + MSG_NO_SLIDES);
      return {false, MSG_NO_SLIDES};
    }
    log().info("✅ 🎯 預計處理投影片頁碼: " + list_text(slide_indices));
    prepare_output_dir(pass);
    export_chosen_slides(pass, slide_indices);
    crop_slides(pass, slide_indices);
    write_preview(pass);
  } catch (const std::exception &e) {
    return end_with_global_error(pass, e.what());
  }
  const std::string message = "Slidra executed successfully. Processed " +
                              std::to_string(pass.global_img_idx - 1) + " target images.";
  log().info("🎉 " + message);
  return {true, message};
}

Outcome SlidraApp::outcome() const {
  if (!last_.ok || images_.unsaved == 0)
    return Outcome::of(last_);
  // The run's own closing line stands before the count of the images it could not save.
  cli::echo("✅ Done: " + last_.message);
  return Outcome::items_failed(static_cast<std::size_t>(images_.unsaved),
                               std::to_string(images_.tried) + " 張裁切影像中有 " +
                                   std::to_string(images_.unsaved) + " 張未能儲存。");
}

const cli::Command<Options> &slidra_command() {
  static const cli::Command<Options> cmd{
      .name = "slidra",
      .help = std::string(TOOL_HELP),
      .epilog = cli::examples_epilog({
          cli::generate_config_example("slidra"),
          cli::run_with_config_example("slidra"),
          {"Specify scan directory:", {"vas-kit slidra -d ./presentations"}},
          cli::choose_config_example("slidra"),
          {"Run with default settings (Direct mode):", {"vas-kit slidra"}},
      }),
      .options = {
          cli::yaml_config_option<Options>(),
          {{"--dir", "-d", "--scan-dir"},
           &Options::scan_dir,
           cli::PathCheck{true, false, true},
           "Specify the directory to scan for PowerPoint files (default: ./)"},
          cli::generate_config_option<Options>("Generate config_slidra_template.yaml"),
          cli::debug_option<Options>(),
      }};
  return cmd;
}

int cmd_slidra(const Options &options) {
  vaskern::app_logging::debug_switch(options.debug, "Vaskit");
  auto resolved = fileIO::start_yaml_command(
      options.generate_config, options.config,
      {.default_text = DEFAULT_YAML_CONTENT,
       .template_file = "config_slidra_template.yaml",
       .logger = &log(),
       .single = fileIO::SingleCandidate::take,
       .none_chosen =
           "Error: Please provide a YAML file path using --config or choose one from the list.",
       .missing_path = "Error: Config file '{path}' does not exist.",
       .empty_asks_nothing = true,
       .config_section = true});
  if (!resolved.config)
    return resolved.status;
  json &loaded_cfg = resolved.config->mapping;
  if (options.scan_dir)
    loaded_cfg["config"]["scan_dir"] = *options.scan_dir;

  SlidraApp app(loaded_cfg);
  app.run();
  return cli::finish(app.outcome(), {"✅ Done: ", "❌ Error: ", true});
}

} // namespace vaskit::slidra
