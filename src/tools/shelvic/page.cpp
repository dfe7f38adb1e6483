// The index page: one card per listed document and the download section.
#include "core/fs.hpp"
#include "core/text.hpp"
#include "tools/shelvic/shelvic.hpp"
#include "vaskern/fileIO.hpp"

#include <algorithm>
#include <fmt/format.h>

namespace vaskit::shelvic {

const std::string SITE_BASE_URL = "https://vasleaf.dev";

const std::string CARD_TEMPLATE = R"(            <!-- Document Card -->
            <a href="{file_url}" class="card">
                <span class="file-tag">@{file}</span>
                <div class="card-content">
                    <h2>{icon} {title}</h2>
                    <p>{description}</p>
                </div>
            </a>
)";

const std::string INDEX_TEMPLATE = R"(<!DOCTYPE html>
<html lang="en">
<head>
    <meta charset="UTF-8">
    <title>{document_title}</title>
    <style>
        /* Global Styles */
        body {{
            font-family: 'Segoe UI', Roboto, Helvetica, Arial, sans-serif;
            background-color: #f8f9fa;
            color: #333333;
            margin: 0;
            padding: 0;
            line-height: 1.6;
        }}
        .container {{
            max-width: 900px;
            margin: 0 auto;
            padding: 40px;
        }}
        /* Header */
        header {{
            display: flex;
            justify-content: space-between;
            align-items: flex-start;
            margin-bottom: 20px; /* room between the header and the first card */
        }}
        header h1 {{
            font-size: 2.5rem;
            color: #212529;
            margin: 0 0 10px 0;
        }}
        header p {{
            color: #6c757d;
            margin: 0;
            font-size: 1.1rem;
        }}
        /* Home Button */
        .home-btn {{
            text-decoration: none;
            color: #333333;
            font-weight: 600;
            border: 1px solid #dee2e6;
            padding: 8px 16px;
            border-radius: 6px;
            background-color: #ffffff;
            transition: all 0.2s ease;
            box-shadow: 0 2px 4px rgba(0,0,0,0.02);
            white-space: nowrap;
        }}
        .home-btn:hover {{
            border-color: #007bff;
            color: #007bff;
            transform: translateY(-2px);
            box-shadow: 0 4px 8px rgba(0, 123, 255, 0.1);
        }}
        /* Card Layout */
        .card-container {{
            display: flex;
            flex-direction: column;
            gap: 10px; /* space between cards */
        }}
        .card {{
            display: block;
            text-decoration: none;
            background-color: #ffffff;
            border: 1px solid #dee2e6;
            border-radius: 12px;
            padding: 10px 25px; /* compact cards */
            min-height: 50px;
            color: inherit;
            position: relative;
            transition: transform 0.2s ease, border-color 0.2s ease, box-shadow 0.2s ease;
        }}
        .card:hover {{
            transform: translateY(-4px);
            border-color: #007bff;
            box-shadow: 0 6px 16px rgba(0, 123, 255, 0.12);
        }}
        .card-content h2 {{
            margin-top: 0;
            margin-bottom: 8px;
            color: #007bff;
            font-size: 1.25rem;
            padding-right: 100px; /* keeps the title clear of the file tag */
        }}
        .card-content p {{
            margin: 0;
            color: #6c757d;
            line-height: 0.3;
            padding-left: 32px; /* lines the text up under the title after the icon */
        }}
        .file-tag {{
            position: absolute;
            top: 12px;
            right: 24px;
            background-color: #e9ecef;
            padding: 4px 12px;
            border-radius: 20px;
            font-size: 0.85rem;
            color: #6c757d;
            font-family: 'Consolas', 'Courier New', monospace;
        }}
        /* Download Button */
        .download-section {{
            text-align: center;
            margin-top: 20px;
        }}
        .download-btn {{
            display: inline-block;
            margin-top: 15px;
            padding: 10px 20px;
            background-color: #28a745;
            color: white;
            text-decoration: none;
            border-radius: 8px;
            font-weight: bold;
            box-shadow: 0 4px 6px rgba(0,0,0,0.1);
            transition: background-color 0.2s ease, transform 0.2s ease;
        }}
        .download-btn:hover {{
            background-color: #218838;
            transform: translateY(-2px);
            box-shadow: 0 6px 12px rgba(0,0,0,0.15);
        }}
        /* Footer */
        footer {{
            margin-top: 60px;
            padding-top: 20px;
            border-top: 1px solid #dee2e6;
            text-align: center;
            color: #6c757d;
            font-size: 0.9rem;
        }}
    </style>
</head>
<body>
    <div class="container">
        <header>
            <div>
                <h1>{document_title}</h1>
                <p>{document_description}</p>
            </div>
            <a href="https://vasleaf.dev/" class="home-btn">🏠 Home</a>
        </header>
        
        <div class="card-container">
{cards_html}        </div>
        
{download_section}
        
        <footer>
            <p>Maintained by the Vasleaf documentation team</p>
        </footer>
    </div>
</body>
</html>
)";

namespace {

bool is_web_link(std::string_view s) {
  return text::starts_with(s, "http://") || text::starts_with(s, "https://");
}

// Text for an attribute value in either kind of quotes.
std::string attr(std::string_view s) {
  return text::replace_all(text::html_escape(s, true), "'", "&#x27;");
}

// A local path as a link: the characters a browser would read as the end of the path or as an
// escape are percent-encoded, as are control characters.
std::string percent_encode(std::string_view path) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(path.size());
  for (char ch : path) {
    const auto c = static_cast<unsigned char>(ch);
    if (c <= 0x20 || c == 0x7F || c == '%' || c == '#' || c == '?') {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    } else {
      out += ch;
    }
  }
  return out;
}

bool is_site_word(const std::string &component) {
  return text::lower(component) == "vasleaf";
}

} // namespace

std::string icon_for(const std::string &title, const std::string &description,
                     const std::string &file) {
  const std::string combined = text::lower(title + " " + description + " " + file);
  const auto has = [&](std::string_view word) { return combined.find(word) != std::string::npos; };
  if (has("log"))
    return "📟";
  if (has("zip"))
    return "📦";
  if (has("readme"))
    return "📜 ";
  if (has("tool"))
    return "🧰";
  if (has("flowchart") || has("flow_chart"))
    return "🔀";
  return "📄";
}

std::string file_url_for(const std::string &file) {
  if (file == "#" || is_web_link(file))
    return file;
  // Only a whole path component named after the site marks a local mirror of it.
  const std::vector<std::string> parts = text::split(fs::abspath(file), "/");
  for (std::size_t i = parts.size(); i-- > 0;) {
    if (!is_site_word(parts[i]))
      continue;
    std::string url = SITE_BASE_URL;
    for (std::size_t k = i + 1; k < parts.size(); ++k)
      url += "/" + percent_encode(parts[k]);
    log().debug("🔍 自動偵測：成功將 " + text::printable(file) + " 轉換為 " + text::printable(url));
    return url;
  }
  return percent_encode(file);
}

std::string render_index_page(const Docs &docs, const json &config) {
  std::vector<const std::pair<DocNumber, DocRecord> *> ordered;
  for (const auto &entry : docs.entries)
    ordered.push_back(&entry);
  std::stable_sort(ordered.begin(), ordered.end(),
                   [](const auto *a, const auto *b) { return a->first < b->first; });

  std::string cards_html;
  for (const auto *entry : ordered) {
    const DocRecord &rec = entry->second;
    const std::string title = rec.title.value_or("Document " + entry->first.text());
    const std::string description = rec.description.value_or("");
    const std::string file = rec.file.value_or("#");
    const std::string icon = icon_for(title, description, file);
    log().info("✅ 判斷圖示使用 " + icon + ": " + text::printable(file));
    std::string file_url;
    try {
      file_url = file_url_for(file);
    } catch (const std::exception &e) {
      log().warning(std::string("⚠️ 自動偵測 file_url 發生錯誤: ") + e.what() +
                    "，將使用原始路徑。");
      file_url = percent_encode(file);
    }
    cards_html += fmt::format(fmt::runtime(CARD_TEMPLATE), fmt::arg("file_url", attr(file_url)),
                              fmt::arg("file", text::html_escape(file)), fmt::arg("icon", icon),
                              fmt::arg("title", text::html_escape(title)),
                              fmt::arg("description", text::html_escape(description)));
  }

  const std::string title = config.contains("document_title")
                                ? text_value(config["document_title"], "document_title")
                                : "Documentation";
  const std::string subtitle =
      config.contains("document_description")
          ? text_value(config["document_description"], "document_description")
          : "";
  std::string download_section;
  if (config.contains("download_link")) {
    const std::string link = text_value(config["download_link"], "download_link");
    if (!link.empty())
      download_section = "        <div class=\"download-section\">\n"
                         "            <a href=\"" +
                         attr(link == "#" || is_web_link(link) ? link : percent_encode(link)) +
                         "\" class=\"download-btn\" download>📥 Download Offline Package "
                         "(.zip)</a>\n"
                         "        </div>";
  }
  return fmt::format(
      fmt::runtime(INDEX_TEMPLATE), fmt::arg("document_title", text::html_escape(title)),
      fmt::arg("document_description", text::html_escape(subtitle)),
      fmt::arg("cards_html", cards_html), fmt::arg("download_section", download_section));
}

Result write_index_page(const Docs &docs, const json &config) {
  const std::string page = render_index_page(docs, config);
  const std::string path = vaskern::fileIO::setup_output_file("./", "index.html", &log());
  const Result saved = vaskern::fileIO::save_local_file_content(path, page, "HTML 索引", &log());
  if (!saved.ok)
    return {false, "Failed to generate index file: " + saved.message};
  return {true, "Successfully generated HTML index at: " + path};
}

} // namespace vaskit::shelvic
