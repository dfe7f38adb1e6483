// Rendering a folder's diagrams with the Mermaid renderer `mmdc`: side by side rather than one
// browser start after another, but handed back one by one in listing order, so that the site's
// log lines and pages come out exactly as if each diagram had been rendered in turn.
#pragma once

#include "core/process.hpp"

#include <cstddef>
#include <exception>
#include <functional>
#include <string>
#include <vector>

namespace vaskit::chartwyn {

// One listed .mmd file.
struct DiagramSource {
  std::string src_path; // the input folder joined with the listed name
  std::string svg_path; // the output folder joined with the base name + ".svg"
};

// What the renderer made of one diagram.
struct Rendered {
  bool ok = false;
  // When !ok: "Command 'mmdc -i <source> -o <svg>' returned non-zero exit status 3." and the
  // like, naming the command as it was run.
  std::string failure;
  // What the renderer printed while it drew this diagram (shown at the diagram's turn).
  std::string out, err;
  // When ok: the SVG file's bytes, read as soon as the renderer was done with it (a later
  // diagram of the same base name may replace the file), or why it could not be read.
  bool svg_missing = false;
  std::string svg;
  std::exception_ptr svg_error;
};

// Renders every diagram to its SVG path and calls emit(i, rendered) for i = 0, 1, 2, ... in
// that order, each as soon as it and every diagram before it are done. With the renderer the
// project installs, one renderer process draws the diagrams in one browser; a diagram it could
// not draw, and every diagram with any other `mmdc`, gets a renderer run of its own, several at
// a time (bounded by the processors and the memory at hand). Each renderer run has
// `timeout_seconds`, its own temporary folder (TMPDIR), removed however the run ends, and ends
// with every process it started. What emit throws stops the renderers and passes on.
void render_diagrams(const std::vector<DiagramSource> &diagrams, int timeout_seconds,
                     const std::function<void(std::size_t, Rendered &)> &emit);

// A path as handed to mmdc: one starting with "-" gets "./" in front, so that it is never read
// as an option.
std::string mmdc_path_argument(const std::string &path);

// True when the file at `mmdc` is the renderer command the project installs, which can also draw
// many diagrams in one browser.
bool draws_batches(const std::string &mmdc);

} // namespace vaskit::chartwyn
