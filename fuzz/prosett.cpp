// prosett's conversion of one file's text into its page. Text that is not UTF-8 is refused with
// re::error; valid text always converts, into a page that is valid UTF-8, holds no NUL byte and
// none of the placeholders that stand in for code and formulas while the renderer runs (one left
// behind is a block or formula lost from the page), nor any of the renderer's own inert marks
// unless the text held such a character.
#include "tools/prosett/prosett.hpp"
#include "core/re.hpp"
#include "harness.hpp"
#include "tools/prosett/page.hpp"
#include "tools/prosett/stages.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace prosett = vaskit::prosett;

namespace {

bool holds_placeholder(std::string_view s) {
  return s.find("CODE_PLACEHOLDER_") != std::string_view::npos ||
         s.find("MATH_PLACEHOLDER_") != std::string_view::npos;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string text(reinterpret_cast<const char *>(data), size);
  const bool utf8 = vaskit::fuzz::valid_utf8(text);

  std::optional<vaskit::re::Utf8Text> prepared;
  try {
    prepared.emplace(prosett::prepare_markdown(text));
  } catch (const vaskit::re::error &) {
    FUZZ_CHECK(!utf8, "valid UTF-8 refused");
    return 0;
  }
  FUZZ_CHECK(utf8, "text that is not UTF-8 accepted");
  const std::string version = prosett::find_version(prepared->str());
  // Every local image "exists": the embedding stage runs on each one.
  const prosett::EncodeImageFn encode = [](const std::string &path) -> std::optional<std::string> {
    if (path.find("missing") != std::string::npos)
      return std::nullopt;
    return std::string("data:image/png;base64,AAAA");
  };
  const std::string body =
      prosett::render_markdown(std::move(*prepared), "/nonexistent/page.md", encode);
  const std::string page = prosett::generate_final_html("page.md", body, "draft");
  FUZZ_CHECK(vaskit::fuzz::valid_utf8(page), "the page is not UTF-8");
  FUZZ_CHECK(!holds_placeholder(body) || holds_placeholder(text),
             "a placeholder was left in the page");
  FUZZ_CHECK(page.find('\0') == std::string::npos, "a NUL byte reached the page");
  // U+E000, which opens each of the renderer's marks.
  FUZZ_CHECK(body.find("\xEE\x80\x80") == std::string::npos ||
                 text.find("\xEE\x80\x80") != std::string::npos,
             "a mark of the renderer was left in the page");
  (void)prosett::output_name("page.md", version, true, "draft");
  return 0;
}
