// The zip package behind a workbook, held in memory, and the atomic file writer.
#pragma once

#include <cstddef>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct zip;

namespace vaskit::xlsx::detail {

// The entries of a zip package. Entries that were never replaced keep their compressed bytes
// when the package is serialized; replaced and added ones are deflated anew.
class Package {
public:
  // An empty package (for a new workbook).
  explicit Package(std::filesystem::path path);
  // Reads the whole file into memory. Throws Error naming the file when it cannot be read or
  // is not a zip archive.
  static Package load(const std::filesystem::path &path);

  Package(Package &&) noexcept;
  Package &operator=(Package &&) noexcept;
  ~Package();

  const std::filesystem::path &path() const { return path_; }
  // Part names are compared without regard to ASCII case, as the package format asks.
  bool contains(std::string_view name) const;
  // The entry's uncompressed bytes. Throws Error when it is missing or unreadable.
  std::string read(std::string_view name) const;
  // Hands the entry's uncompressed bytes to `sink` in blocks, until the entry ends or `sink`
  // returns false (the rest is then never inflated). Throws Error as read() does.
  void read_blocks(std::string_view name, const std::function<bool(std::string_view)> &sink) const;
  // Replaces the entry's content, or appends a new entry at the end.
  void write(std::string_view name, std::string data);
  // Drops the entry; nothing happens when it is absent.
  void remove(std::string_view name);
  std::vector<std::string> names() const;

  // The whole package as zip bytes, entries in their original order. New entries get a fixed
  // time stamp so that equal input gives equal output.
  std::string serialize() const;

private:
  struct Entry {
    std::string name;
    std::int64_t source_index = -1;  // index in the loaded archive, -1 for a new entry
    std::optional<std::string> data; // set when replaced or new
  };
  const Entry *find(std::string_view name) const;
  Entry *find(std::string_view name);

  std::filesystem::path path_;
  std::string file_bytes_; // the loaded archive; libzip reads from it
  struct ArchiveCloser {
    void operator()(zip *archive) const;
  };
  std::unique_ptr<zip, ArchiveCloser> archive_;
  std::vector<Entry> entries_;
};

// Saves through fs::write_file_atomic (whose ScopedWriteHook is the test seam for failed
// saves), with its errors as Error naming `target`.
void write_file_atomically(const std::filesystem::path &target, std::string_view data);

} // namespace vaskit::xlsx::detail
