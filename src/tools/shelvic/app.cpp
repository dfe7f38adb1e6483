// The index run: list the folder, pack, re-point documents, offer unlisted files, bring the
// configuration in line with the disk, save it, write the page.
#include "core/command.hpp"
#include "core/fs.hpp"
#include "core/re.hpp"
#include "core/text.hpp"
#include "tools/shelvic/shelvic.hpp"
#include "vaskern/fileIO.hpp"
#include "vaskern/yaml_edit.hpp"

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <unordered_map>
#include <unordered_set>

namespace vaskit::shelvic {
namespace {

bool is_web_link(std::string_view s) {
  return text::starts_with(s, "http://") || text::starts_with(s, "https://");
}

std::string py_list(const std::vector<std::string> &items) {
  std::string out = "[";
  for (std::size_t i = 0; i < items.size(); ++i)
    out += (i ? ", " : "") + text::py_repr(items[i]);
  return out + "]";
}

// Asks until a non-empty answer comes; end of input aborts the command.
std::string prompt(const std::string &question) {
  while (true) {
    std::cout << question << ": " << std::flush;
    auto answer = cli::read_line();
    if (!answer) {
      std::cout << '\n';
      throw cli::Abort();
    }
    if (!answer->empty() && answer->back() == '\r')
      answer->pop_back();
    if (!answer->empty())
      return text::valid_utf8(*answer) ? *answer : text::sanitize_utf8(*answer);
  }
}

bool exists(const std::string &path) {
  std::error_code ec;
  return std::filesystem::exists(path, ec);
}

std::string optional_text(const json &config, const std::string &key) {
  return config.contains(key) ? text_value(config[key], key) : std::string();
}

const re::Pattern &document_key() {
  static const re::Pattern p(R"(document(\d+)_(title|file|description))");
  return p;
}

// Where new document keys go: after the last document key, so that the file gets them among its
// documents; at the end of the mapping when there is none.
std::size_t after_last_document_key(const json::object_t &entries) {
  for (std::size_t i = entries.size(); i-- > 0;)
    if (document_key().match(entries.begin()[static_cast<std::ptrdiff_t>(i)].first))
      return i + 1;
  return entries.size();
}

// Puts `added` into `entries` after the last document key (at the end when there is none).
void insert_document_keys(json::object_t &entries,
                          const std::vector<std::pair<std::string, std::string>> &added) {
  if (added.empty())
    return;
  const std::size_t at = after_last_document_key(entries);
  json::object_t out;
  out.Container::reserve(entries.size() + added.size());
  auto put_added = [&] {
    for (const auto &[key, value] : added)
      out.Container::emplace_back(key, value);
  };
  std::size_t i = 0;
  for (auto &[key, value] : entries) {
    if (i++ == at)
      put_added();
    out.Container::emplace_back(key, std::move(value));
  }
  if (at == entries.size())
    put_added();
  entries = std::move(out);
}

// Sets a document key: one that exists keeps its place and takes the value, a new one goes
// after the last document key.
void set_document_key(json &config, const std::string &key, const std::string &value) {
  if (config.contains(key))
    config[key] = value;
  else
    insert_document_keys(config.get_ref<json::object_t &>(), {{key, value}});
}

// The document table and the folder's files; settings that must be text are checked first, so
// that nothing is written for a configuration that is refused.
void read_configuration(const json &config, Docs &docs, std::vector<std::string> &actual_files) {
  for (const char *key : {"document_title", "document_description"})
    optional_text(config, key);
  std::tie(docs, actual_files) = extract_docs_and_find_actual_files(config);
}

// Packs the download package and adds it to the folder's files (once: a package of an earlier
// run is already there); what the update then does with the download entry.
DownloadPin pack_download(const json &config, const Docs &docs,
                          std::vector<std::string> &actual_files) {
  const std::string link =
      config.contains("download_link") ? optional_text(config, "download_link") : "package.zip";
  std::vector<std::string> listed;
  for (const auto &[n, rec] : docs.entries)
    if (rec.file && !rec.file->empty() && *rec.file != "#" && !is_web_link(*rec.file))
      listed.push_back(*rec.file);
  const PackResult pack =
      zip_latest_version_files(actual_files, package_file_name(link), "./", listed);
  DownloadPin pin;
  if (pack.status == PackResult::Status::packed) {
    const std::string packed = fs::path_text(pack.path);
    if (std::none_of(actual_files.begin(), actual_files.end(),
                     [&](const std::string &f) { return fs::path_text(f) == packed; }))
      actual_files.push_back(pack.path);
    pin = {DownloadPin::Mode::fixed, pack.path};
  } else if (pack.status == PackResult::Status::failed) {
    pin.mode = DownloadPin::Mode::keep;
  }
  return pin;
}

// Logs the files no document lists and, with a configuration file, offers them for adding:
// each pick becomes the next document, with a title and a description asked for it.
void offer_unlisted_files(json &config, const std::optional<std::string> &config_path, Docs &docs,
                          const std::vector<std::string> &unlisted_files) {
  if (unlisted_files.empty())
    return;
  log().info("💬 偵測到未在 YAML 中記載且非最新版的檔案列表：" + py_list(unlisted_files));
  if (!config_path || !exists(*config_path))
    return;
  cli::echo("\n--- 💬 偵測到未被記載的實體檔案，您可以選擇將其加入索引（可輸入多個編號並依序加入，"
            "例如: 2,1） ---");
  vaskit::FileList offered;
  for (const auto &p : unlisted_files)
    offered.push_back({p, file_name_of(p)});
  const auto selected = vaskern::fileIO::interactive_select_files(offered, "");
  for (const auto &[path, name] : selected) {
    cli::echo("\n💬 正在為 [" + text::printable(name) + "] 設定索引資訊：");
    const std::string title = prompt("請輸入顯示標題 (document_title)");
    const std::string description = prompt("請輸入描述 (document_description)");
    std::optional<DocNumber> top;
    for (const auto &[n, rec] : docs.entries)
      if (!top || *top < n)
        top = n;
    const DocNumber next = top ? top->next() : DocNumber::one();
    const std::string base = "document" + next.text();
    set_document_key(config, base + "_title", title);
    set_document_key(config, base + "_file", path);
    set_document_key(config, base + "_description", description);
    docs.entries.emplace_back(next, DocRecord{title, path, description});
  }
}

// The configured download link follows the package: re-pointed, or emptied when its file is
// gone. The download entry leaves the table.
void settle_download_link(json &config, Docs &docs) {
  if (docs.download) {
    if (!config.contains("download_link") ||
        optional_text(config, "download_link") != *docs.download)
      config["download_link"] = *docs.download;
    docs.download.reset();
  } else if (!optional_text(config, "download_link").empty()) {
    config["download_link"] = "";
  }
}

// Document keys: files re-pointed, keys of documents no longer listed removed. Lookups in an
// ordered mapping are linear, so the edits go through one index of its keys.
void settle_document_keys(json &config, const Docs &docs) {
  auto &entries = config.get_ref<json::object_t &>();
  std::unordered_map<std::string, std::size_t> position;
  position.reserve(entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i)
    position.emplace(entries.begin()[static_cast<std::ptrdiff_t>(i)].first, i);
  std::unordered_set<std::string> numbers;
  std::vector<std::pair<std::string, std::string>> missing; // file keys to add
  for (const auto &[n, rec] : docs.entries) {
    numbers.insert(n.text());
    if (!rec.file)
      continue;
    const std::string key = "document" + n.text() + "_file";
    const auto at = position.find(key);
    if (at == position.end()) {
      position.emplace(key, entries.size());
      missing.emplace_back(key, *rec.file);
      continue;
    }
    json &value = entries.begin()[static_cast<std::ptrdiff_t>(at->second)].second;
    if (text_value(value, key) != *rec.file)
      value = *rec.file;
  }
  json::object_t kept;
  kept.Container::reserve(entries.size() + missing.size());
  for (auto &[key, value] : entries) {
    const auto m = document_key().match(key);
    if (m && !numbers.count(DocNumber::from_digits(m->group(1)).text()))
      continue;
    kept.Container::emplace_back(key, std::move(value));
  }
  insert_document_keys(kept, missing);
  entries = std::move(kept);
}

} // namespace

ShelvicApp::ShelvicApp(json &config, std::optional<std::string> config_path)
    : config_(config), config_path_(std::move(config_path)) {}

Outcome ShelvicApp::run() {
  log().info("✅ 開始 HTML 索引生成程序。");
  Docs docs;
  std::vector<std::string> actual_files;
  try {
    read_configuration(config_, docs, actual_files);
  } catch (const config::ConfigError &e) {
    return Outcome::run_failed(e.what());
  }
  const DownloadPin pin = pack_download(config_, docs, actual_files);
  const std::vector<std::string> unlisted_files =
      update_docs_to_latest_versions(docs, actual_files, pin);
  offer_unlisted_files(config_, config_path_, docs, unlisted_files);
  settle_download_link(config_, docs);
  settle_document_keys(config_, docs);

  Result saved{true, ""};
  if (config_path_ && exists(*config_path_))
    saved = vaskern::fileIO::save_yaml_config(*config_path_, config_, &log());

  const Result page = write_index_page(docs, config_);
  // The page may be fine, yet a configuration that was not saved is no success.
  if (page.ok && !saved.ok)
    return Outcome::run_failed(
        "The index page was written, but the configuration file was not saved: " + saved.message);
  return Outcome::of(page);
}

} // namespace vaskit::shelvic
