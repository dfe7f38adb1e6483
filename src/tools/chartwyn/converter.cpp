#include "core/fs.hpp"
#include "core/process.hpp"
#include "core/text.hpp"
#include "tools/chartwyn/chartwyn.hpp"
#include "tools/chartwyn/diagrams.hpp"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <iostream>
#include <system_error>

namespace vaskit::chartwyn {

namespace stdfs = std::filesystem;

namespace {

std::string text_setting(const json &conf, const char *key, const char *fallback) {
  if (!conf.contains(key))
    return fallback;
  const json &v = conf.at(key);
  if (!v.is_string())
    throw config::ConfigError(std::string("config.") + key, "text", v);
  return v.get<std::string>();
}

json title_table(const json &conf, const char *key) {
  if (!conf.contains(key))
    return json::object();
  const json &v = conf.at(key);
  if (!v.is_object())
    throw config::ConfigError::worded(std::string("config.") + key,
                                      std::string("config.") + key +
                                          " must be a mapping of file names to titles");
  return v;
}

// The entry names of a folder as the file system lists them (not sorted).
std::vector<std::string> list_names(const std::string &folder) {
  std::vector<std::string> names;
  for (const auto &entry : stdfs::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  return names;
}

bool has_suffix_ignoring_case(const std::string &name, std::string_view suffix) {
  return text::ends_with(text::lower(name), suffix);
}

// The configured title of a listed file, else its base name. A title that is not text ends the
// run when that file comes up, naming the entry.
std::string title_for(const json &titles, const char *table, const std::string &name,
                      const std::string &base) {
  const auto it = titles.find(name);
  if (it == titles.end())
    return base;
  if (!it->is_string())
    throw config::ConfigError(
        std::string("config.") + table + "[\"" + text::printable(name) + "\"]", "text", *it);
  return it->get<std::string>();
}

// Text as read in universal-newline mode: "\r\n" and a lone "\r" become "\n".
std::string universal_newlines(std::string s) {
  if (s.find('\r') == std::string::npos)
    return s;
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\r') {
      out += s[i];
      continue;
    }
    out += '\n';
    if (i + 1 < s.size() && s[i + 1] == '\n')
      ++i;
  }
  return out;
}

std::string section(std::string_view heading, const std::vector<std::string> &links) {
  if (links.empty())
    return "";
  std::string out = "<h3>" + std::string(heading) + "</h3><ul>";
  for (const auto &l : links)
    out += l;
  return out + "</ul>";
}

void replay(const std::string &text, std::FILE *stream) {
  if (text.empty())
    return;
  std::cout.flush();
  std::fflush(stdout);
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fflush(stream);
}

} // namespace

MermaidConverter::MermaidConverter(const json &config_dict) : conf(config_dict) {
  config::require_mapping(conf, "config");
  input_folder = text_setting(conf, "input_folder", "./data_chartwyn");
  output_folder = text_setting(conf, "output_folder", "./data_chartwyn/html_out");
  index_title = conf.contains("index_title") ? config::to_text(conf.at("index_title"))
                                             : std::string("Project Documentation");
  doc_titles = title_table(conf, "doc_titles");
  chart_titles = title_table(conf, "chart_titles");
  log().debug(config::to_text(conf));
}

void MermaidConverter::_prepare_output_dir() const {
  std::error_code ec;
  if (stdfs::exists(output_folder, ec))
    return;
  stdfs::create_directories(output_folder);
  log().info("Created output directory: " + output_folder);
}

bool MermaidConverter::_check_mmdc() {
  return process::which("mmdc").has_value();
}

int mmdc_timeout_seconds() {
  if (const char *v = std::getenv("VASKIT_MMDC_TIMEOUT")) {
    char *end = nullptr;
    const long n = std::strtol(v, &end, 10);
    if (end != v && *end == '\0' && n > 0 && n <= 86400)
      return static_cast<int>(n);
  }
  return 120;
}

Outcome MermaidConverter::run() const {
  std::size_t found = 0;
  std::size_t failed = 0;
  if (!_check_mmdc()) {
    const std::string msg = "Mermaid CLI ('mmdc') is not installed or not in PATH.\n"
                            "Please install it via: npm install -g @mermaid-js/mermaid-cli";
    log().error(msg);
    throw std::runtime_error(msg);
  }
  std::error_code ec;
  if (!stdfs::exists(input_folder, ec))
    throw std::runtime_error("Input folder not found: " + input_folder);
  _prepare_output_dir();

  std::vector<std::string> md_links;
  std::vector<std::string> chart_links;

  for (const auto &name : list_names(input_folder)) {
    if (!has_suffix_ignoring_case(name, ".md"))
      continue;
    ++found;
    const std::string src_path = fs::join(input_folder, name);
    const std::string base = fs::splitext(name).first;
    const std::string html_name = base + ".html";
    const std::string html_path = fs::join(output_folder, html_name);
    // A name that is not UTF-8 is shown with replacement characters; links keep its bytes.
    const std::string shown = text::sanitize_utf8(name);
    const std::string title = title_for(doc_titles, "doc_titles", name, text::sanitize_utf8(base));
    log().info("Processing Markdown: " + shown + " -> " + title);
    try {
      const std::string source = fs::read_file(src_path);
      if (!text::valid_utf8(source))
        throw std::runtime_error("the file is not UTF-8 text");
      const std::string body = render_markdown(source);
      fs::write_file_atomic(html_path, render_page(title, body));
      md_links.push_back(link_line(html_name, "📘", title));
    } catch (const std::exception &e) {
      log().error("Failed to process " + shown + ": " + e.what());
      ++failed;
    }
  }

  // The diagrams are rendered ahead, side by side, and handled here one by one in listing
  // order. A title that cannot be used ends the run when its diagram comes up, so only the
  // diagrams before it are rendered.
  struct Listed {
    std::string base, shown, title;
  };
  std::vector<Listed> listed;
  std::vector<DiagramSource> sources;
  std::exception_ptr title_error;
  for (const auto &name : list_names(input_folder)) {
    if (!has_suffix_ignoring_case(name, ".mmd"))
      continue;
    ++found;
    Listed l{fs::splitext(name).first, text::sanitize_utf8(name), {}};
    try {
      l.title = title_for(chart_titles, "chart_titles", name, text::sanitize_utf8(l.base));
    } catch (...) {
      title_error = std::current_exception();
      break;
    }
    sources.push_back({fs::join(input_folder, name), fs::join(output_folder, l.base + ".svg")});
    listed.push_back(std::move(l));
  }
  render_diagrams(sources, mmdc_timeout_seconds(), [&](std::size_t i, Rendered &r) {
    const Listed &l = listed[i];
    const std::string &svg_path = sources[i].svg_path;
    log().info("Converting diagram: " + l.shown + " -> " + l.title + " ...");
    replay(r.out, stdout);
    replay(r.err, stderr);
    if (!r.ok) {
      log().error("Failed to convert " + l.shown + ": " + r.failure);
      ++failed;
      return;
    }
    // Anything else that goes wrong with a diagram ends the run.
    if (r.svg_error)
      std::rethrow_exception(r.svg_error);
    if (r.svg_missing)
      throw std::runtime_error("The renderer wrote no SVG file: " + svg_path);
    const std::string svg = universal_newlines(std::move(r.svg));
    if (!text::valid_utf8(svg))
      throw std::runtime_error("The SVG file is not UTF-8 text: " + svg_path);
    fs::write_file_atomic(fs::join(output_folder, l.base + ".html"), render_page(l.title, svg));
    chart_links.push_back(link_line(l.base + ".html", "📊", l.title));
  });
  if (title_error)
    std::rethrow_exception(title_error);

  // Files found and none converted made nothing: that is an error, not an empty folder.
  if (md_links.empty() && chart_links.empty()) {
    if (found > 0)
      return Outcome::items_failed(failed, "\n[ERROR] No page was made: " + std::to_string(failed) +
                                               " of " + std::to_string(found) +
                                               " .md and .mmd files failed.");
    return Outcome::done("\n[WARNING] No .md or .mmd files were found in the input folder.");
  }

  log().info("Generating index.html ...");
  const std::string index = render_index(index_title, section("Documentation", md_links),
                                         section("Flow Charts", chart_links));
  fs::write_file_atomic(fs::join(output_folder, "index.html"), index);
  // When only some failed, the site is made and the status still says that something failed.
  return Outcome::items_failed(
      failed, "\n[DONE] Successfully generated documentation in: " + output_folder + "/index.html");
}

} // namespace vaskit::chartwyn
