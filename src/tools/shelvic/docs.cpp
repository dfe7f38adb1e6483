// The document table from the configuration, the files of the working folder, and the
// re-pointing of every document at the newest file of its version family.
#include "core/re.hpp"
#include "core/text.hpp"
#include "tools/shelvic/shelvic.hpp"
#include "vaskern/fileIO.hpp"

#include <filesystem>
#include <unordered_map>
#include <unordered_set>

namespace vaskit::shelvic {
namespace {

bool is_web_link(std::string_view s) {
  return text::starts_with(s, "http://") || text::starts_with(s, "https://");
}

// The pathlib suffix: from the last dot, unless that dot opens or ends the name.
std::string suffix_of(const std::string &name) {
  const auto dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0 || dot + 1 == name.size())
    return "";
  return name.substr(dot);
}

// `original`'s folder (after normalisation) joined with `name`; `name` alone when the path has
// fewer than two components.
std::string beside(const std::string &original, const std::string &name) {
  const bool rooted = !original.empty() && original.front() == '/';
  std::vector<std::string> parts;
  for (auto &p : text::split(original, "/"))
    if (!p.empty() && p != ".")
      parts.push_back(std::move(p));
  if (parts.size() + (rooted ? 1 : 0) < 2)
    return name;
  parts.pop_back();
  const std::string parent = (rooted ? "/" : "") + text::join(parts, "/");
  return parent == "/" ? "/" + name : parent + "/" + name;
}

} // namespace

DocNumber DocNumber::from_digits(std::string_view digits) {
  std::string ascii;
  for (char32_t cp : text::to_u32(digits)) {
    const int d = text::decimal_value(cp);
    if (d < 0)
      throw std::invalid_argument("not a document number");
    if (!(ascii.empty() && d == 0))
      ascii += static_cast<char>('0' + d);
  }
  if (digits.empty())
    throw std::invalid_argument("not a document number");
  return DocNumber(ascii.empty() ? "0" : ascii);
}

DocNumber DocNumber::next() const {
  std::string d = digits_;
  for (std::size_t i = d.size(); i-- > 0;) {
    if (d[i] != '9') {
      ++d[i];
      return DocNumber(d);
    }
    d[i] = '0';
  }
  return DocNumber("1" + d);
}

DocRecord *Docs::find(const DocNumber &n) {
  for (auto &[k, rec] : entries)
    if (k == n)
      return &rec;
  return nullptr;
}

DocRecord &Docs::at_or_add(const DocNumber &n) {
  if (DocRecord *rec = find(n))
    return *rec;
  entries.emplace_back(n, DocRecord{});
  return entries.back().second;
}

std::string text_value(const json &value, const std::string &key) {
  if (value.is_string())
    return value.get<std::string>();
  if (value.is_null())
    return "";
  if (value.is_array() || value.is_object())
    throw config::ConfigError::worded(key, "設定值 " + key + " 必須是文字，不能是" +
                                               (value.is_array() ? "清單" : "對應表"));
  return config::to_text(value);
}

std::pair<Docs, std::vector<std::string>> extract_docs_and_find_actual_files(const json &config) {
  static const re::Pattern doc_key(R"(document(\d+)_(title|file|description))");
  Docs docs;
  // Numbers seen so far, for a lookup that stays linear in the number of keys.
  std::unordered_map<std::string, std::size_t> where;
  for (const auto &[key, value] : config.items()) {
    const auto m = doc_key.match(key);
    if (!m)
      continue;
    const DocNumber n = DocNumber::from_digits(m->group(1));
    auto [it, added] = where.emplace(n.text(), docs.entries.size());
    if (added)
      docs.entries.emplace_back(n, DocRecord{});
    DocRecord &rec = docs.entries[it->second].second;
    const std::string_view field = m->group(2);
    std::string v = text_value(value, key);
    if (field == "title")
      rec.title = std::move(v);
    else if (field == "file")
      rec.file = std::move(v);
    else
      rec.description = std::move(v);
  }

  std::vector<std::string> actual_files;
  try {
    const auto found =
        vaskern::fileIO::find_files_with_extensions("./", {}, false, "", {"index.html"}, &log());
    for (const auto &[path, shown] : found) {
      const std::string name = file_name_of(path);
      // Hidden files (the configuration's backup, .env, editor files) are never listed.
      if (name.empty() || name.front() == '.')
        continue;
      const std::string suffix = text::lower(suffix_of(name));
      if (suffix == ".yaml" || suffix == ".yml")
        continue;
      actual_files.push_back(text::starts_with(path, "./") ? path.substr(2) : path);
    }
  } catch (const std::exception &e) {
    log().warning(std::string("⚠️ 尋找實體檔案失敗: ") + e.what());
    actual_files.clear();
  }

  if (config.contains("download_link")) {
    std::string link = text_value(config["download_link"], "download_link");
    if (!link.empty())
      docs.download = std::move(link);
  }
  return {std::move(docs), std::move(actual_files)};
}

std::vector<std::string>
update_docs_to_latest_versions(Docs &docs, const std::vector<std::string> &actual_files,
                               const DownloadPin &pin) {
  std::unordered_set<std::string> configured;
  auto add_configured = [&](const std::optional<std::string> &file) {
    if (file && !file->empty() && *file != "#")
      configured.insert(clean_version(file_name_of(*file)));
  };
  for (const auto &[n, rec] : docs.entries)
    add_configured(rec.file);
  add_configured(docs.download);

  // The newest member of every family, found once: the first with the greatest key.
  struct Newest {
    std::size_t index;
    VersionKey key;
  };
  std::unordered_map<std::string, Newest> newest;
  std::vector<std::string> families(actual_files.size());
  std::vector<bool> usable(actual_files.size(), false);
  for (std::size_t i = 0; i < actual_files.size(); ++i) {
    const std::string name = file_name_of(actual_files[i]);
    if (!text::valid_utf8(name)) {
      log().warning("⚠️ 檔名不是有效的 UTF-8 文字，不列入索引：" +
                    text::printable(name));
      continue;
    }
    usable[i] = true;
    families[i] = clean_version(name);
    VersionKey key = get_version_key(name);
    auto [it, added] = newest.try_emplace(families[i], Newest{i, key});
    if (!added && it->second.key < key)
      it->second = Newest{i, std::move(key)};
  }

  std::unordered_set<std::string> chosen;
  auto find_best_matching_file = [&](const std::string &original_path,
                                     const std::string &label) -> std::optional<std::string> {
    if (original_path.empty() || original_path == "#" || is_web_link(original_path))
      return original_path;
    const auto it = newest.find(clean_version(file_name_of(original_path)));
    if (it != newest.end()) {
      const std::string &best = actual_files[it->second.index];
      chosen.insert(best);
      const std::string value = beside(original_path, file_name_of(best));
      if (value != original_path)
        log().info("✅ 自動匹配" + label + "：將 " + text::printable(original_path) +
                   " 更新為最新版本 " + text::printable(value));
      return value;
    }
    std::error_code ec;
    if (std::filesystem::exists(original_path, ec)) {
      log().info("✅ 保留已存在的實體" + label + "路徑：" + text::printable(original_path));
      return original_path;
    }
    log().warning("⚠️ 找不到與 " + text::printable(original_path) +
                  " 匹配的實體檔案，將其自索引中移除。");
    return std::nullopt;
  };

  std::vector<std::pair<DocNumber, DocRecord>> kept;
  kept.reserve(docs.entries.size());
  for (auto &[n, rec] : docs.entries) {
    if (rec.file && !rec.file->empty()) {
      auto best = find_best_matching_file(*rec.file, "檔案");
      if (!best)
        continue;
      rec.file = std::move(*best);
    }
    kept.emplace_back(std::move(n), std::move(rec));
  }
  docs.entries = std::move(kept);

  if (docs.download) {
    const std::string &link = *docs.download;
    const bool local = link != "#" && !is_web_link(link);
    if (pin.mode == DownloadPin::Mode::fixed && local) {
      // The package of this run is the download, even when its family holds a newer name, and
      // the link names it where it was written, whatever folder the configured link had.
      chosen.insert(pin.package_path);
      docs.download = pin.package_path;
    } else if (pin.mode != DownloadPin::Mode::keep) {
      docs.download = find_best_matching_file(link, "下載檔案");
    }
  }

  std::vector<std::string> unlisted;
  for (std::size_t i = 0; i < actual_files.size(); ++i)
    if (usable[i] && !configured.count(families[i]) && !chosen.count(actual_files[i]))
      unlisted.push_back(actual_files[i]);
  return unlisted;
}

} // namespace vaskit::shelvic
