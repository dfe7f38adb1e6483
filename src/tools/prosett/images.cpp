// Local images are embedded as data URIs, so that the page carries its pictures with it.
#include "core/fs.hpp"
#include "core/re.hpp"
#include "core/text.hpp"
#include "tools/prosett/log.hpp"
#include "tools/prosett/stages.hpp"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace vaskit::prosett {
namespace {

bool is_remote(std::string_view src) {
  return src.starts_with("http://") || src.starts_with("https://") || src.starts_with("data:");
}

// "%XX" escapes decoded; each run of them is read as UTF-8, invalid bytes as U+FFFD.
std::string percent_decode(std::string_view src) {
  std::string out;
  out.reserve(src.size());
  std::size_t i = 0;
  while (i < src.size()) {
    std::string bytes;
    while (i + 2 < src.size() && src[i] == '%' && text::hex_digit(src[i + 1]) >= 0 &&
           text::hex_digit(src[i + 2]) >= 0) {
      bytes += static_cast<char>(text::hex_digit(src[i + 1]) * 16 + text::hex_digit(src[i + 2]));
      i += 3;
    }
    if (!bytes.empty()) {
      out += text::sanitize_utf8(bytes);
      continue;
    }
    out += src[i++];
  }
  return out;
}

} // namespace

bool is_embeddable_image(std::string_view path) {
  // A NUL would cut the name short on its way to the file system.
  if (path.find('\0') != std::string_view::npos)
    return false;
  const std::string ext = text::lower(fs::splitext(fs::basename(path)).second);
  for (std::string_view ok : {".png", ".jpg", ".jpeg", ".gif", ".svg", ".webp", ".bmp"})
    if (ext == ok)
      return true;
  return false;
}

namespace {

void append_base64(std::string &out, std::string_view bytes) {
  static constexpr char alphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  const std::size_t start = out.size();
  out.resize(start + (bytes.size() + 2) / 3 * 4);
  char *p = out.data() + start;
  std::size_t i = 0;
  auto byte = [&](std::size_t k) {
    return static_cast<unsigned>(static_cast<unsigned char>(bytes[k]));
  };
  for (; i + 3 <= bytes.size(); i += 3) {
    const unsigned v = byte(i) << 16 | byte(i + 1) << 8 | byte(i + 2);
    *p++ = alphabet[v >> 18 & 63];
    *p++ = alphabet[v >> 12 & 63];
    *p++ = alphabet[v >> 6 & 63];
    *p++ = alphabet[v & 63];
  }
  if (const std::size_t rest = bytes.size() - i; rest > 0) {
    const unsigned v = byte(i) << 16 | (rest == 2 ? byte(i + 1) << 8 : 0u);
    *p++ = alphabet[v >> 18 & 63];
    *p++ = alphabet[v >> 12 & 63];
    *p++ = rest == 2 ? alphabet[v >> 6 & 63] : '=';
    *p++ = '=';
  }
}

} // namespace

std::string base64_encode(std::string_view bytes) {
  std::string out;
  append_base64(out, bytes);
  return out;
}

std::optional<std::string> encode_image_base64(const std::string &img_path) {
  if (!is_embeddable_image(img_path))
    return std::nullopt;
  const std::string ext = text::lower(fs::splitext(fs::basename(img_path)).second);
  const char *mime = "image/png";
  if (ext == ".jpg" || ext == ".jpeg")
    mime = "image/jpeg";
  else if (ext == ".gif")
    mime = "image/gif";
  else if (ext == ".svg")
    mime = "image/svg+xml";

  // A page may show the same picture many times: the file is opened first and only a failed
  // open asks whether anything exists there, which keeps this to few system calls per tag.
  std::string bytes;
  const char *failure = nullptr;
  const int fd = ::open(img_path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    const int err = errno;
    std::error_code ec;
    if (!std::filesystem::exists(img_path, ec))
      return std::nullopt;
    failure = std::strerror(err);
  } else {
    char buffer[65536];
    for (;;) {
      const ssize_t got = ::read(fd, buffer, sizeof buffer);
      if (got > 0) {
        bytes.append(buffer, static_cast<std::size_t>(got));
      } else if (got == 0) {
        break;
      } else if (errno != EINTR) {
        failure = std::strerror(errno);
        break;
      }
    }
    ::close(fd);
  }
  if (failure) {
    log().warning("⚠️ 無法將圖片 " + text::printable(img_path) +
                  " 編碼為 Base64: " + failure);
    return std::nullopt;
  }
  std::string uri = "data:";
  uri.reserve(uri.size() + std::strlen(mime) + 8 + (bytes.size() + 2) / 3 * 4);
  uri += mime;
  uri += ";base64,";
  append_base64(uri, bytes);
  return uri;
}

std::string embed_images_in_html(std::string_view html_body, const std::string &md_file,
                                 const EncodeImageFn &encode_image_fn, bool is_debug) {
  return embed_images_in_html(re::Utf8::check(html_body), md_file, encode_image_fn, is_debug)
      .release();
}

namespace {

// The page with its images embedded; nullopt when none is.
std::optional<re::Utf8Text> embedded(re::Utf8 valid_body, const std::string &md_file,
                                     const EncodeImageFn &encode_image_fn, bool is_debug) {
  static const re::Pattern img(R"re(<img[^>]+src="([^">]+)")re");
  const std::string_view html_body = valid_body.view();
  const auto matches = img.finditer(valid_body);
  std::size_t local = 0;
  for (const auto &m : matches)
    if (!is_remote(m.group(1)))
      ++local;
  if (local > 0)
    log().info("✅ 發現 " + std::to_string(local) + " 張本地圖片進行 Base64 嵌入。");

  const std::string md_dir = fs::dirname(md_file);
  // The data URIs are made first, so that the page is sized once.
  std::vector<std::pair<const re::Match *, std::string>> replaced;
  std::size_t size = html_body.size();
  for (const auto &m : matches) {
    const std::string_view src = m.group(1);
    if (is_remote(src))
      continue;
    // The renderer writes "&" in attributes as "&amp;": references first, then %-escapes.
    // Log lines show the path with control characters replaced: it comes from the document.
    const std::string abs_img_path = fs::join(md_dir, percent_decode(html_unescape(src)));
    // Only image files: a page that is passed around must not carry any other local file.
    std::optional<std::string> b64_src;
    if (is_embeddable_image(abs_img_path))
      b64_src = encode_image_fn(abs_img_path);
    if (!b64_src || b64_src->empty()) {
      log().warning("⚠️ 轉換過程中找不到圖片: " + text::printable(abs_img_path));
      continue;
    }
    if (is_debug)
      log().debug("已嵌入 Base64 圖片: " + text::printable(abs_img_path));
    size = size - src.size() + b64_src->size();
    replaced.emplace_back(&m, std::move(*b64_src));
  }
  if (replaced.empty())
    return std::nullopt;
  re::Utf8Text out;
  out.reserve(size);
  std::size_t copied = 0;
  for (const auto &[m, uri] : replaced) {
    out.append(valid_body.substr(copied, m->start(1) - copied));
    out.append_checked(uri);
    copied = m->end(1);
  }
  out.append(valid_body.substr(copied));
  return out;
}

} // namespace

re::Utf8Text embed_images_in_html(re::Utf8 valid_body, const std::string &md_file,
                                  const EncodeImageFn &encode_image_fn, bool is_debug) {
  auto changed = embedded(valid_body, md_file, encode_image_fn, is_debug);
  return changed ? std::move(*changed) : re::Utf8Text(valid_body);
}

re::Utf8Text embed_images_in_html(re::Utf8Text &&html_body, const std::string &md_file,
                                  const EncodeImageFn &encode_image_fn, bool is_debug) {
  auto changed = embedded(html_body.view(), md_file, encode_image_fn, is_debug);
  return changed ? std::move(*changed) : std::move(html_body);
}

} // namespace vaskit::prosett
