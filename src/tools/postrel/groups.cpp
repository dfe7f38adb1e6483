// Recipient groups: the chosen group's lines, and the listing of all groups.
#include "core/command.hpp"
#include "core/config.hpp"
#include "core/text.hpp"
#include "tools/postrel/postrel.hpp"
#include "vaskern/fileIO_options.hpp"

namespace vaskit::postrel {
namespace {

const std::string kRule(60, '-');

// An empty value where a mapping belongs counts as an empty mapping.
json mapping_or_empty(const json &v) {
  return v.is_object() ? v : json::object();
}

// The value under `key` when it is truthy (config::truthy).
std::optional<json> truthy_value(const json &mapping, const std::string &key) {
  if (!mapping.is_object())
    return std::nullopt;
  const auto it = mapping.find(key);
  if (it == mapping.end() || !config::truthy(*it))
    return std::nullopt;
  return *it;
}

} // namespace

std::string _format_recipients(const json &recipients) {
  if (recipients.is_array()) {
    std::vector<std::string> parts;
    for (const auto &item : recipients)
      if (config::truthy(item))
        parts.push_back(text::strip(config::to_text(item)));
    return text::join(parts, "; ");
  }
  if (!config::truthy(recipients))
    return "";
  return text::strip(config::to_text(recipients));
}

std::vector<std::string> _format_attachments(const json &attachments) {
  std::vector<std::string> out;
  if (attachments.is_string()) {
    auto s = text::strip(attachments.get<std::string>());
    if (!s.empty())
      out.push_back(std::move(s));
  } else if (attachments.is_array()) {
    for (const auto &item : attachments) {
      if (!config::truthy(item))
        continue;
      auto s = text::strip(config::to_text(item));
      if (!s.empty())
        out.push_back(std::move(s));
    }
  }
  return out;
}

std::optional<std::string> configuration_problem(const json &config_dict) {
  if (config_dict.is_null())
    return std::nullopt;
  if (!config_dict.is_object())
    return "❌ Error: 設定檔的內容必須是對應表 (mapping)。";
  const json section = config::get_or(config_dict, "config", json::object());
  if (section.is_null())
    return std::nullopt;
  if (!section.is_object())
    return "❌ Error: 設定檔的 config 區段必須是對應表 (mapping)。";
  const json groups = config::get_or(section, "groups", json::object());
  if (groups.is_null())
    return std::nullopt;
  if (!groups.is_object())
    return "❌ Error: 設定檔的 groups 必須是對應表 (mapping)，每個群組名稱對應其設定。";
  for (const auto &[name, settings] : groups.items())
    if (!settings.is_object() && !settings.is_null())
      return "❌ Error: 群組 [" + text::printable(name) +
             "] 的設定必須是對應表 (mapping)，含 mail_to、mail_cc 與 mail_content。";
  return std::nullopt;
}

PostrelApp::PostrelApp(const json &config_dict, const std::optional<std::string> &group_name,
                       bool interactive) {
  config = mapping_or_empty(config::get_or(config_dict, "config", json::object()));
  groups = mapping_or_empty(config::get_or(config, "groups", json::object()));
  selected_group = group_name;
  json group_cfg = json::object();

  if (group_name && !group_name->empty()) {
    if (groups.contains(*group_name)) {
      group_cfg = mapping_or_empty(groups[*group_name]);
      log().info("✅ 使用指定的郵件群組設定：[" + *group_name + "]");
    } else {
      log().warning("⚠️ 找不到指定的群組 [" + *group_name + "]，將使用預設設定。");
    }
  } else if (!groups.empty()) {
    std::vector<std::string> group_keys;
    for (const auto &[name, settings] : groups.items())
      group_keys.push_back(name);
    const json default_value = config::get_or(config, "default_group", nullptr);
    // Group names are texts: only a text default can name one.
    std::optional<std::size_t> default_pos;
    if (default_value.is_string())
      for (std::size_t i = 0; i < group_keys.size(); ++i)
        if (group_keys[i] == default_value.get<std::string>()) {
          default_pos = i;
          break;
        }
    const std::string default_idx = default_pos ? std::to_string(*default_pos + 1) : "1";

    bool chosen = false;
    if (interactive && group_keys.size() > 1) {
      try {
        selected_group = vaskern::fileIO::select_option("請選擇群組編號", group_keys, default_idx,
                                                        "📧 請選擇郵件收件人群組 (Recipient Group)");
        chosen = true;
      } catch (const std::exception &e) {
        log().warning(std::string("⚠️ 選擇群組過程異常 (") + e.what() +
                      ")，自動採用預設群組。");
      }
    }
    if (!chosen)
      selected_group = default_pos ? group_keys[*default_pos] : group_keys.front();
    if (groups.contains(*selected_group))
      group_cfg = mapping_or_empty(groups[*selected_group]);
    log().info("✅ 已選用郵件群組：[" + *selected_group + "]");
  } else {
    const json default_value = config::get_or(config, "default_group", nullptr);
    selected_group = default_value.is_null()
                         ? std::nullopt
                         : std::optional<std::string>(config::to_text(default_value));
  }

  auto field = [&](const std::string &key) -> json {
    if (auto v = truthy_value(group_cfg, key))
      return *v;
    if (auto v = truthy_value(config, key))
      return *v;
    return "";
  };
  mail_to = _format_recipients(field("mail_to"));
  mail_cc = _format_recipients(field("mail_cc"));
  const json content = field("mail_content");
  if (config::truthy(content))
    mail_content = config::to_text(content);
}

void PostrelApp::list_groups() const {
  if (groups.empty()) {
    cli::echo("⚠️ 設定檔中未定義任何群組 (groups 為空)。");
    return;
  }
  const json default_grp = config::get_or(config, "default_group", nullptr);
  cli::echo("\n📋 可用的郵件群組清單 (Available Recipient Groups):");
  cli::echo(kRule);
  auto shown = [](const json &v) { return text::printable(config::to_text(v)); };
  for (const auto &[name, raw_settings] : groups.items()) {
    const json settings = mapping_or_empty(raw_settings);
    auto value = [&](const std::string &key, const json &otherwise) -> json {
      if (auto v = truthy_value(settings, key))
        return *v;
      if (config.contains(key))
        return config[key];
      return otherwise;
    };
    const json to = value("mail_to", "(未設定)");
    const json cc = value("mail_cc", "");
    const json content = value("mail_content", "(未設定)");
    const bool is_default = default_grp.is_string() && default_grp.get<std::string>() == name;
    cli::echo("  🔹 群組名稱: " + text::printable(name) + (is_default ? " (預設)" : ""));
    cli::echo("     - 收件人 (To): " + shown(to));
    if (config::truthy(cc))
      cli::echo("     - 副本 (CC): " + shown(cc));
    cli::echo("     - 內容路徑 (Content): " + shown(content));
    cli::echo(kRule);
  }
}

} // namespace vaskit::postrel
