// The mail run: source, optional AI rewrite, subject, attachments, draft.
#include "core/fs.hpp"
#include "core/text.hpp"
#include "tools/postrel/postrel.hpp"
#include "vaskern/agy_utils.hpp"
#include "vaskern/fileIO.hpp"
#include "vaskern/fileIO_options.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vaskit::postrel {
namespace fileIO = vaskern::fileIO;
namespace stdfs = std::filesystem;
namespace {

struct AiOption {
  std::string label;
  std::vector<std::string> skills;
};

// The AI menu's options after "不使用AI", in menu order.
const std::vector<AiOption> &ai_option_map() {
  static const std::vector<AiOption> options = {
      {"排版+語法檢查", {"mail_formatting.yaml", "mail_grammar.yaml"}},
      {"排版+語法檢查+emoji", {"mail_formatting.yaml", "mail_grammar.yaml", "mail_emoji.yaml"}},
      {"排版+語法檢查+中翻英",
       {"mail_translate_en.yaml", "mail_formatting.yaml", "mail_grammar.yaml"}},
      {"排版+語法檢查++emoji+中翻英",
       {"mail_translate_en.yaml", "mail_formatting.yaml", "mail_grammar.yaml", "mail_emoji.yaml"}},
  };
  return options;
}

const char *const kNoAi = "不使用AI";
const char *const kModel = "gemini-3.7-flash-medium";

// What a file is before the agent runs, to tell a file the agent wrote from one left by an
// earlier run: time, size and a digest of the content.
struct FileState {
  bool exists = false;
  struct timespec mtime {};
  off_t size = 0;
  std::string digest;
  bool operator==(const FileState &o) const {
    return exists == o.exists && mtime.tv_sec == o.mtime.tv_sec &&
           mtime.tv_nsec == o.mtime.tv_nsec && size == o.size && digest == o.digest;
  }
};

FileState state_of(const std::string &path) {
  FileState st;
  // O_NONBLOCK: a FIFO at that path must not hold the run until something writes to it.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    st.exists = ::access(path.c_str(), F_OK) == 0;
    return st;
  }
  struct stat sb;
  if (::fstat(fd, &sb) == 0) {
    st.exists = true;
    st.mtime = sb.st_mtim;
    st.size = sb.st_size;
    if (S_ISREG(sb.st_mode)) {
      GChecksum *sum = g_checksum_new(G_CHECKSUM_SHA256);
      char buf[65536];
      ssize_t got;
      while ((got = ::read(fd, buf, sizeof buf)) > 0)
        g_checksum_update(sum, reinterpret_cast<const guchar *>(buf), got);
      st.digest = g_checksum_get_string(sum);
      g_checksum_free(sum);
    }
  }
  ::close(fd);
  return st;
}

} // namespace

std::string ai_prompt(const std::string &goal_name, const std::vector<std::string> &skill_stems,
                      const std::string &label, const std::string &source_abs,
                      const std::string &output_abs) {
  return "請依據 Goal 目標 (" + goal_name + ") 與 Skill 規範 (" + text::join(skill_stems, ", ") +
         ")，對來源 Email 檔案進行【" + label + "】處理。\n- 來源檔案路徑：`" + source_abs +
         "`\n- 目標輸出路徑：`" + output_abs +
         "`\n請讀取來源檔案並使用 `write_to_file` 工具將校正完成的完整 Markdown 寫入目標檔案。";
}

namespace {

// What the run hands from one stage to the next.
struct MailRun {
  std::string source;    // the Markdown file as it was chosen
  std::string file_name; // the name the final message reports: the AI output's after a rewrite
  std::string content;
  std::string subject;
  std::string body;
  std::vector<std::string> attachments;
};

// Set when a stage ends the run, with the run's result.
using Stop = std::optional<Result>;

// The Markdown file and its text.
Stop load_source(MailRun &run, const std::optional<std::string> &input_file,
                 const std::optional<std::string> &mail_content) {
  const Resolved resolved = resolve_markdown_file(input_file, mail_content, "./",
                                                  std::vector<std::string>{".md"}, &log());
  if (!resolved.path)
    return Result{false, resolved.error.value_or("")};
  run.source = *resolved.path;
  run.file_name = fs::basename(run.source);
  run.content = fileIO::load_local_file_content(run.source, "現有檔案內容", &log());
  if (run.content.empty()) {
    log().warning("⚠️ 檔案內容為空，無法建立郵件。");
    return Result{false, "檔案內容為空。"};
  }
  return std::nullopt;
}

// The AI option: none with --no-ai, else the user's choice from the menu; nullptr for no rewrite.
const AiOption *choose_ai_option(bool no_ai) {
  std::string chosen;
  if (no_ai) {
    chosen = kNoAi;
    log().info("💬 依參數設定跳過 AI 校正，直接選擇不使用 AI。");
  } else {
    std::vector<std::string> menu{kNoAi};
    for (const auto &o : ai_option_map())
      menu.push_back(o.label);
    chosen = fileIO::select_option("請選擇校正模式", menu, "1",
                                   "🤖 是否使用 AI 校正郵件內容？");
  }
  for (const auto &o : ai_option_map())
    if (o.label == chosen)
      return &o;
  return nullptr;
}

// The agent rewrites the source into "<stem>_ai.md" beside it; that text becomes the content.
Stop polish_with_ai(MailRun &run, const AiOption &option) {
  const stdfs::path module_dir = stdfs::absolute(fileIO::executable_dir());
  const auto goal =
      fileIO::get_resource_path("vaskit.goal", "mail_polish.yaml", module_dir / "goal", &log());
  if (goal)
    log().info("✅ 成功載入 Goal: " + goal->filename().string());
  else
    log().warning("⚠️ 未找到 Goal 設定檔: mail_polish.yaml");

  std::vector<std::string> skills;
  std::vector<std::string> skill_stems;
  for (const auto &name : option.skills) {
    if (const auto skill =
            fileIO::get_resource_path("vaskit.skill", name, module_dir / "skill", &log())) {
      skills.push_back(skill->string());
      skill_stems.push_back(skill->stem().string());
      log().info("✅ 成功載入 Skill: " + skill->filename().string());
    } else {
      log().warning("⚠️ 未找到 Skill 設定檔: " + name);
    }
  }

  const std::string source_abs = fs::abspath(run.source);
  const std::string output_name = fs::splitext(fs::basename(run.source)).first + "_ai.md";
  const std::string output_abs = fs::join(fs::dirname(source_abs), output_name);
  const std::string prompt = ai_prompt(goal ? goal->filename().string() : "mail_polish.yaml",
                                       skill_stems, option.label, source_abs, output_abs);

  log().info("⌛ 正在調用 AI (run_agy) 進行【" + option.label + "】校正處理 (目標輸出：" +
             output_name + ")...");
  // A file left by an earlier run is not the agent's answer: only a changed file counts.
  const FileState before = state_of(output_abs);
  const auto agent = vaskern::agy_utils::run_agy(
      run.source, goal ? std::optional<std::string>(goal->string()) : std::nullopt, skills, prompt,
      kModel);
  // An agent that failed or was killed may have written part of its answer: none of it is used.
  if (agent.started && !agent.ok)
    return Result{false, "AI 代理程式異常結束，未使用其產出檔案: " + output_name};
  const FileState after = state_of(output_abs);
  if (!after.exists || (before.exists && before == after)) {
    log().error("❌ AI 校正未順利產生目標檔案 [" + output_name + "]。");
    return Result{false, "AI 校正未產生目標檔案: " + output_name};
  }

  const std::string ai_text = fileIO::load_local_file_content(output_abs, "AI 校正後檔案", &log());
  if (text::strip(ai_text).empty()) {
    log().error("❌ AI 產出之檔案 [" + output_name + "] 內容為空。");
    return Result{false, "AI 產出檔案為空: " + output_name};
  }
  log().info("✅ AI【" + option.label + "】校正完成！產出檔案：" + output_name);
  vaskern::agy_utils::display_content_diff(run.content, ai_text, run.file_name, output_name);
  run.content = text::strip(ai_text);
  run.file_name = output_name;
  return std::nullopt;
}

// The subject from the content's "subject:" line ("草稿" without one), and the body without it.
void take_subject(MailRun &run) {
  auto [subject, body] = _extract_subject_from_markdown(run.content);
  run.body = std::move(body);
  if (!subject.empty()) {
    run.subject = std::move(subject);
    log().info("✅ 成功自 Markdown 內文第一行擷取主旨：" + run.subject);
  } else {
    run.subject = "草稿";
    log().info("💬 Markdown 未提供主旨或為主旨為空，預設使用主旨：草稿");
  }
}

// The weekly report to the boss ends with the table of contents of the first attachment that
// has one.
void add_weekly_summary(MailRun &run, const PostrelApp &app) {
  if (app.selected_group != "weekly_report_to_boss")
    return;
  for (const auto &att : run.attachments) {
    const std::string summary = app.extract_toc_summary_from_attachment(att);
    if (summary.empty())
      continue;
    run.body = text::strip(run.body) + "\n\n" + summary;
    log().info("✅ 已將附件 [" + fs::basename(att) + "] 的目錄摘要附加至郵件內文。");
    return;
  }
}

} // namespace

Outcome PostrelApp::run(const std::optional<std::string> &input_file,
                        const std::vector<std::string> &attachments, bool no_ai) const {
  log().info("✅ 🚀 開始 Postrel 處理程序。");
  MailRun run;
  if (Stop stop = load_source(run, input_file, mail_content))
    return Outcome::of(*stop);
  if (const AiOption *option = choose_ai_option(no_ai))
    if (Stop stop = polish_with_ai(run, *option))
      return Outcome::of(*stop);
  take_subject(run);
  run.attachments = _format_attachments(json(attachments));
  add_weekly_summary(run, *this);

  const Result draft =
      create_and_display_mail(run.body, run.subject, "", "", run.attachments, run.source);
  if (!draft.ok)
    return Outcome::run_failed(draft.message);
  log().info("🎉 成功完成處理！已根據檔案建立郵件草稿：" + run.file_name);
  return Outcome::done("成功建立郵件草稿: " + run.file_name);
}

} // namespace vaskit::postrel
