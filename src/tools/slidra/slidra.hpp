// slidra: crops the regions of keyword-marked shapes out of rendered slides into GIF images and
// writes a Markdown preview of them.
//
// Error contract of a tool: cmd_slidra returns the exit status, its reason printed. A
// configuration whose content or config section is not a mapping ends the command with one
// "❌ Error:" line and status 1, before anything is read; a configuration without content ends it
// quietly with status 0. SlidraApp::run() reports every failure of the deck, the export or the
// preview as a false Result (the global error); a failure of one slide or one region is logged and
// the run goes on. outcome() turns the last run into an Outcome: the run failed, or its failed
// items are the crop images it could not save; cli::finish prints it and gives the status. The
// stages run() calls throw. What the command does not catch reaches cli::run_main: one "❌" line,
// status 1.
#pragma once

#include "core/command.hpp"

#include "core/config.hpp"
#include "core/result.hpp"
#include "formats/pptx/presentation.hpp"
#include "vaskern/app_logging.hpp"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vaskit::slidra {

using config::json;
using Logger = vaskern::app_logging::Logger;

// The tool's logger ("Slidra").
Logger &log();

extern const std::string DEFAULT_YAML_CONTENT;

// A keyword shape's box as fractions of the slide, and its position among the slide's top-level
// shapes.
struct BboxRatio {
  double left_r = 0;
  double top_r = 0;
  double width_r = 0;
  double height_r = 0;
  int shape_idx = 0;
};

// Cuts every target out of the slide image at `full_slide_png` and saves it as
// "img<n>_slide<slide_idx>.gif" in `output_dir` (which must exist). Numbers start at
// `start_img_idx` and advance once per target, saved or not. A padding beyond a billion pixels
// either way counts as a billion: such a box is that region's size error. Returns the saved paths
// and the next free number. A slide image that cannot be read gives one error line and no numbers
// used.
std::pair<std::vector<std::string>, std::int64_t>
crop_slide_targets(const std::string &full_slide_png, const std::vector<BboxRatio> &targets,
                   const std::string &output_dir, std::int64_t padding, std::int64_t start_img_idx,
                   int slide_idx, const Logger *logger = nullptr);

// The lines of the Markdown preview for the saved image paths (joined with "\n" by the caller).
std::vector<std::string> generate_preview_content(const std::vector<std::string> &cropped_images);

// Renders chosen slides to PNG images: the stand-in for the desktop presentation application.
class SlideExporter {
public:
  virtual ~SlideExporter() = default;
  // Writes slide `slides[i]` (1-based, presentation order, hidden slides included) of the deck
  // at `pptx_path` to `outputs[i]`, `scale_width` pixels wide, the height following `size`'s
  // aspect ratio. All or nothing: on failure it throws and leaves none of `outputs` behind.
  virtual void export_slides(const std::string &pptx_path, const std::vector<int> &slides,
                             const std::vector<std::string> &outputs, int scale_width,
                             const pptx::Size &size) = 0;
};

// LibreOffice (headless, private profile, hidden slides exported) converts the deck to PDF once;
// poppler renders the chosen pages, several at a time.
std::unique_ptr<SlideExporter> make_libreoffice_exporter();

// Starts the image library once per process; throws when it cannot start.
void ensure_vips();

// The pixel height of a slide `width` pixels wide (at least 1).
int slide_height_pixels(int width, const pptx::Size &size);

class SlidraApp {
public:
  // `config_dict` is the whole configuration mapping; settings come from its `config` section.
  // `exporter` replaces LibreOffice (tests); null means the real one.
  explicit SlidraApp(const json &config_dict, std::unique_ptr<SlideExporter> exporter = nullptr);

  // One pass over one chosen deck; never throws for failures of the deck, slides or export.
  // An interrupt (SIGINT, SIGTERM, SIGHUP) at any point after the deck is chosen removes what the
  // pass has made but its saved images and preview: the full-slide images, the export's
  // temporary folder, and the image folder when the pass made it and it is still empty.
  Result run();

  // The crop images a pass tried to make and how many of them it could not save (the regions of
  // a slide image that could not be read count as not saved).
  struct ImageCount {
    std::int64_t tried = 0;
    std::int64_t unsaved = 0;
  };
  // Of the last run().
  const ImageCount &images() const { return images_; }
  // The last run() as the command reports it: run_failed with run()'s message, done with it, or
  // items_failed by the crop images that could not be saved (then the run's own "✅ Done:" line is
  // printed here first, and the outcome's message counts the images).
  Outcome outcome() const;

  // The sorted, unique 1-based slide numbers `target_str` selects; bad parts are logged.
  std::vector<int> parse_slide_indices(const json &target_str, std::int64_t total_slides) const;
  // The boxes of the slide's top-level shapes whose text holds `keyword`. Throws when there is
  // none, when the deck or slide cannot be read, or when a matching shape has no box.
  std::vector<BboxRatio> get_target_shapes_bbox_ratios(const std::string &pptx_path,
                                                       int slide_index,
                                                       const std::string &keyword) const;
  // Renders the slides to the paths the template gives (its "{idx}" filled with the slide
  // number, relative to the current folder); returns slide number -> path as the template gave
  // it.
  std::map<int, std::string> export_slides_to_high_res_png(const std::string &pptx_path,
                                                           const std::vector<int> &slide_indices,
                                                           const std::string &output_template);

  json config;
  json scan_dir;
  json target_slides;
  json search_keyword;
  std::string output_dir;
  json scale_width;
  json padding;

private:
  struct Pass; // what one run() has chosen and made so far

  Result run_stages();
  // The stages of run(), in order.
  std::optional<Result> check_settings(Pass &pass) const;
  bool choose_deck(Pass &pass) const;
  std::int64_t count_slides(const Pass &pass) const;
  void prepare_output_dir(Pass &pass) const;
  void export_chosen_slides(Pass &pass, const std::vector<int> &slide_indices);
  void crop_slides(Pass &pass, const std::vector<int> &slide_indices);
  void write_preview(const Pass &pass) const;
  Result end_with_global_error(Pass &pass, const std::string &what) const;

  std::unique_ptr<SlideExporter> exporter_;
  ImageCount images_;
  Result last_;
};

// The command line of slidra: one member per option, filled by cli::parse from
// slidra_command().
struct Options {
  std::optional<std::string> config;   // -c/--config; "" asks for a choice
  std::optional<std::string> scan_dir; // -d/--dir/--scan-dir, an existing folder
  bool generate_config = false;
  bool debug = false;
};

// The command: name, help text, epilog and options, each option bound to its member.
const cli::Command<Options> &slidra_command();

// The command body; returns the exit status: 0 after a run that saved every crop image, and for
// a configuration without content (empty, or comments only), which ends the command quietly.
int cmd_slidra(const Options &options);

} // namespace vaskit::slidra
