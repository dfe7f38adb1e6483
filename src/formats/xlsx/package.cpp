#include "formats/xlsx/package.hpp"

#include "core/fs.hpp"
#include "core/text.hpp"

#include "formats/xlsx/workbook.hpp"

#include <zip.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace vaskit::xlsx::detail {

namespace {

std::string zip_message(zip_error_t *error) {
  std::string text = zip_error_strerror(error);
  return text;
}

// Part names may be given with the leading slash of the package's own notation.
std::string_view strip_slash(std::string_view name) {
  return !name.empty() && name.front() == '/' ? name.substr(1) : name;
}

time_t fixed_entry_time() {
  // Local midnight, so that the DOS time stored in the archive reads 2000-01-01 00:00 in
  // every time zone.
  std::tm tm{};
  tm.tm_year = 100;
  tm.tm_mon = 0;
  tm.tm_mday = 1;
  tm.tm_isdst = -1;
  return std::mktime(&tm);
}

} // namespace

void Package::ArchiveCloser::operator()(zip *archive) const {
  if (archive != nullptr) {
    zip_discard(archive);
  }
}

Package::Package(std::filesystem::path path) : path_(std::move(path)) {}

Package::Package(Package &&) noexcept = default;
Package &Package::operator=(Package &&) noexcept = default;
Package::~Package() {
  // The archive reads from file_bytes_, so it must go first.
  archive_.reset();
}

Package Package::load(const std::filesystem::path &path) {
  Package package(path);
  const std::string where = path.string() + ": ";
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) {
    throw Error(where + "is a folder, not a workbook");
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    throw Error(where + "cannot open file: " + std::strerror(errno));
  }
  package.file_bytes_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad()) {
    throw Error(where + "cannot read file");
  }
  // A string's buffer may move with the object when it is short; zip archives never are,
  // but reserve keeps the buffer on the heap either way.
  package.file_bytes_.reserve(64);

  zip_error_t error;
  zip_error_init(&error);
  zip_source_t *source =
      zip_source_buffer_create(package.file_bytes_.data(), package.file_bytes_.size(), 0, &error);
  if (source == nullptr) {
    std::string message = zip_message(&error);
    zip_error_fini(&error);
    throw Error(where + "cannot read file: " + message);
  }
  zip_t *archive = zip_open_from_source(source, ZIP_RDONLY, &error);
  if (archive == nullptr) {
    zip_source_free(source);
    std::string message = zip_message(&error);
    zip_error_fini(&error);
    throw Error(where + "not a workbook (not a valid zip archive: " + message + ")");
  }
  zip_error_fini(&error);
  package.archive_.reset(archive);

  const zip_int64_t count = zip_get_num_entries(archive, 0);
  for (zip_int64_t i = 0; i < count; ++i) {
    const char *name = zip_get_name(archive, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_RAW);
    if (name == nullptr) {
      throw Error(where + "damaged zip directory");
    }
    package.entries_.push_back(Entry{name, i, std::nullopt});
  }
  return package;
}

const Package::Entry *Package::find(std::string_view name) const {
  name = strip_slash(name);
  for (const Entry &entry : entries_) {
    if (entry.name == name) {
      return &entry;
    }
  }
  for (const Entry &entry : entries_) {
    if (text::iequals_ascii(entry.name, name)) {
      return &entry;
    }
  }
  return nullptr;
}

Package::Entry *Package::find(std::string_view name) {
  return const_cast<Entry *>(static_cast<const Package *>(this)->find(name));
}

bool Package::contains(std::string_view name) const {
  return find(name) != nullptr;
}

std::vector<std::string> Package::names() const {
  std::vector<std::string> out;
  for (const Entry &entry : entries_) {
    out.push_back(entry.name);
  }
  return out;
}

std::string Package::read(std::string_view name) const {
  std::string data;
  read_blocks(name, [&](std::string_view block) {
    data.append(block);
    return true;
  });
  return data;
}

void Package::read_blocks(std::string_view name,
                          const std::function<bool(std::string_view)> &sink) const {
  const Entry *entry = find(name);
  const std::string where = path_.string() + ": ";
  if (entry == nullptr) {
    throw Error(where + "missing part " + std::string(strip_slash(name)));
  }
  if (entry->data) {
    sink(*entry->data);
    return;
  }
  zip_t *archive = archive_.get();
  const auto index = static_cast<zip_uint64_t>(entry->source_index);
  zip_stat_t st;
  if (zip_stat_index(archive, index, 0, &st) != 0) {
    throw Error(where + "cannot read part " + entry->name);
  }
  zip_file_t *file = zip_fopen_index(archive, index, 0);
  if (file == nullptr) {
    throw Error(where + "cannot read part " + entry->name + ": " +
                zip_error_strerror(zip_get_error(archive)));
  }
  struct Closer {
    zip_file_t *file;
    ~Closer() { zip_fclose(file); }
  } closer{file};
  // Small blocks, so that a reader that stops early inflates little more than it needs.
  char buffer[16384];
  for (;;) {
    zip_int64_t n = zip_fread(file, buffer, sizeof buffer);
    if (n < 0) {
      throw Error(where + "damaged part " + entry->name + ": " +
                  zip_error_strerror(zip_file_get_error(file)));
    }
    if (n == 0 || !sink(std::string_view(buffer, static_cast<std::size_t>(n)))) {
      return;
    }
  }
}

void Package::write(std::string_view name, std::string data) {
  if (Entry *entry = find(name)) {
    entry->data = std::move(data);
    return;
  }
  entries_.push_back(Entry{std::string(strip_slash(name)), -1, std::move(data)});
}

void Package::remove(std::string_view name) {
  if (const Entry *entry = find(name)) {
    entries_.erase(entries_.begin() + (entry - entries_.data()));
  }
}

std::string Package::serialize() const {
  const std::string where = path_.string() + ": ";
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t *sink = zip_source_buffer_create(nullptr, 0, 0, &error);
  if (sink == nullptr) {
    std::string message = zip_message(&error);
    zip_error_fini(&error);
    throw Error(where + "cannot build archive: " + message);
  }
  zip_source_keep(sink); // keep the written bytes after zip_close
  zip_t *out = zip_open_from_source(sink, ZIP_TRUNCATE, &error);
  if (out == nullptr) {
    std::string message = zip_message(&error);
    zip_error_fini(&error);
    zip_source_free(sink);
    throw Error(where + "cannot build archive: " + message);
  }
  zip_error_fini(&error);

  auto fail = [&](const std::string &what) {
    std::string message = what + ": " + zip_error_strerror(zip_get_error(out));
    zip_discard(out);
    zip_source_free(sink);
    throw Error(where + "cannot build archive: " + message);
  };

  const time_t new_entry_time = fixed_entry_time();
  for (const Entry &entry : entries_) {
    zip_stat_t st;
    zip_stat_init(&st);
    const bool from_source = entry.source_index >= 0;
    const auto source_index = static_cast<zip_uint64_t>(entry.source_index);
    if (from_source && zip_stat_index(archive_.get(), source_index, 0, &st) != 0) {
      fail(entry.name);
    }
    zip_source_t *source =
        entry.data ? zip_source_buffer(out, entry.data->data(), entry.data->size(), 0)
                   // Untouched entries travel with their compressed bytes, not re-deflated.
                   : zip_source_zip(out, archive_.get(), source_index, ZIP_FL_COMPRESSED, 0, -1);
    if (source == nullptr) {
      fail(entry.name);
    }
    zip_int64_t index = zip_file_add(out, entry.name.c_str(), source, ZIP_FL_ENC_GUESS);
    if (index < 0) {
      zip_source_free(source);
      fail(entry.name);
    }
    const auto out_index = static_cast<zip_uint64_t>(index);
    // The same method as the source entry means libzip copies the data without recompressing.
    const zip_int32_t method =
        entry.data ? ZIP_CM_DEFLATE : static_cast<zip_int32_t>(st.comp_method);
    if (zip_set_file_compression(out, out_index, method, 0) != 0) {
      fail(entry.name);
    }
    const time_t mtime = from_source && (st.valid & ZIP_STAT_MTIME) ? st.mtime : new_entry_time;
    if (zip_file_set_mtime(out, out_index, mtime, 0) != 0) {
      fail(entry.name);
    }
    if (from_source) {
      zip_uint8_t opsys = 0;
      zip_uint32_t attributes = 0;
      if (zip_file_get_external_attributes(archive_.get(), source_index, 0, &opsys, &attributes) ==
          0) {
        zip_file_set_external_attributes(out, out_index, 0, opsys, attributes);
      }
    }
  }
  if (zip_close(out) != 0) {
    fail("writing");
  }

  std::string bytes;
  zip_stat_t st;
  if (zip_source_stat(sink, &st) != 0 || zip_source_open(sink) != 0) {
    zip_source_free(sink);
    throw Error(where + "cannot build archive");
  }
  bytes.resize(static_cast<std::size_t>(st.size));
  zip_int64_t got = zip_source_read(sink, bytes.data(), bytes.size());
  zip_source_close(sink);
  zip_source_free(sink);
  if (got < 0 || static_cast<zip_uint64_t>(got) != st.size) {
    throw Error(where + "cannot build archive");
  }
  return bytes;
}

void write_file_atomically(const std::filesystem::path &requested, std::string_view data) {
  const std::string where = requested.string() + ": cannot save: ";
  try {
    fs::write_file_atomic(requested, data);
  } catch (const std::system_error &e) {
    throw Error(where + e.code().message());
  } catch (const Error &) {
    throw;
  } catch (const std::exception &e) {
    throw Error(where + e.what());
  }
}

} // namespace vaskit::xlsx::detail
