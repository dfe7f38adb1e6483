// What the fuzz harnesses share: a failed property aborts with its reason (libFuzzer and the
// replay tests both report an abort as a finding), a scratch folder of the process for inputs
// the libraries only read from files, and packages assembled from a readable text form.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <unistd.h>
#include <vector>
#include <zip.h>

namespace vaskit::fuzz {

[[noreturn]] inline void fail(const char *file, int line, const char *what,
                              const std::string &detail) {
  std::fprintf(stderr, "%s:%d: property failed: %s %s\n", file, line, what, detail.c_str());
  std::abort();
}

#define FUZZ_CHECK(cond, detail)                                                                   \
  do {                                                                                             \
    if (!(cond))                                                                                   \
      ::vaskit::fuzz::fail(__FILE__, __LINE__, #cond, (detail));                                   \
  } while (false)

// A folder of this process only (parallel fuzzing jobs each have their own), removed at exit.
inline const std::filesystem::path &scratch_dir() {
  static const std::filesystem::path dir = [] {
    std::string tmpl = (std::filesystem::temp_directory_path() / "vaskit-fuzz-XXXXXX").string();
    if (!mkdtemp(tmpl.data()))
      throw std::system_error(errno, std::generic_category(), "mkdtemp");
    std::filesystem::path made(tmpl);
    static struct Cleanup {
      std::filesystem::path p;
      ~Cleanup() {
        std::error_code ec;
        std::filesystem::remove_all(p, ec);
      }
    } cleanup{made};
    return made;
  }();
  return dir;
}

inline void write_file(const std::filesystem::path &path, std::string_view data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(data.data(), static_cast<std::streamsize>(data.size()));
  if (!out.flush())
    throw std::runtime_error("cannot write " + path.string());
}

inline bool valid_utf8(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    std::size_t n;
    std::uint32_t cp;
    if (c < 0x80) {
      ++i;
      continue;
    } else if (c >= 0xC2 && c <= 0xDF) {
      n = 1, cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      n = 2, cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      n = 3, cp = c & 0x07;
    } else {
      return false;
    }
    if (i + n >= s.size())
      return false;
    for (std::size_t k = 1; k <= n; ++k) {
      const auto d = static_cast<unsigned char>(s[i + k]);
      if ((d & 0xC0) != 0x80)
        return false;
      cp = (cp << 6) | (d & 0x3F);
    }
    if ((n == 2 && cp < 0x800) || (n == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    i += n + 1;
  }
  return true;
}

// A package in its text form: every part starts on a line "@@ <part name>" and runs to the next
// such line. Text before the first marker is ignored.
struct Part {
  std::string name;
  std::string data;
};

inline std::vector<Part> split_parts(std::string_view text) {
  std::vector<Part> parts;
  std::size_t pos = 0;
  auto marker_at = [&](std::size_t p) { return text.compare(p, 3, "@@ ") == 0; };
  // Finds the next marker at a line start at or after p.
  auto next_marker = [&](std::size_t p) {
    while (p < text.size()) {
      if ((p == 0 || text[p - 1] == '\n') && marker_at(p))
        return p;
      const auto nl = text.find('\n', p);
      if (nl == std::string_view::npos)
        return text.size();
      p = nl + 1;
    }
    return text.size();
  };
  pos = next_marker(0);
  while (pos < text.size()) {
    const auto eol = text.find('\n', pos);
    const auto name_end = eol == std::string_view::npos ? text.size() : eol;
    Part part;
    part.name = std::string(text.substr(pos + 3, name_end - pos - 3));
    const auto body = name_end == text.size() ? text.size() : name_end + 1;
    const auto next = next_marker(body);
    part.data = std::string(text.substr(body, next - body));
    parts.push_back(std::move(part));
    pos = next;
  }
  return parts;
}

// Writes `parts` as a zip archive (stored, so that the archive is quick to make); a part whose
// name libzip refuses (empty, a repeat) is left out. False when no archive could be written.
inline bool write_zip(const std::filesystem::path &path, const std::vector<Part> &parts) {
  int err = 0;
  zip_t *archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &err);
  if (!archive)
    throw std::runtime_error("zip_open failed");
  for (const auto &part : parts) {
    zip_source_t *src = zip_source_buffer(archive, part.data.data(), part.data.size(), 0);
    if (!src)
      throw std::runtime_error("zip_source_buffer failed");
    const auto index = zip_file_add(archive, part.name.c_str(), src, ZIP_FL_ENC_UTF_8);
    if (index < 0) {
      zip_source_free(src);
      continue;
    }
    zip_set_file_compression(archive, static_cast<zip_uint64_t>(index), ZIP_CM_STORE, 0);
  }
  if (zip_close(archive) != 0) {
    zip_discard(archive);
    return false;
  }
  return true;
}

// The bytes of a zip package: given as is when they already are one ("PK"), else assembled
// from the text form. False when no package can be made.
inline bool write_package(const std::filesystem::path &path, std::string_view input) {
  if (input.substr(0, 2) == "PK") {
    write_file(path, input);
    return true;
  }
  const auto parts = split_parts(input);
  if (parts.empty())
    return false;
  return write_zip(path, parts);
}

} // namespace vaskit::fuzz
