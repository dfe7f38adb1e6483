// Found files as the tools list, filter and offer them: each file's path with the name shown
// to the user, kept together so that filtering or sorting cannot pull the two apart.
#pragma once

#include <string>
#include <vector>

namespace vaskit {

struct FileEntry {
  std::string path; // as found or given (absolute or relative to the current folder)
  std::string name; // what lists and messages show: the file name as a rule
  bool operator==(const FileEntry &) const = default;
};

using FileList = std::vector<FileEntry>;

// The paths of `files`, in order.
inline std::vector<std::string> paths_of(const FileList &files) {
  std::vector<std::string> out;
  out.reserve(files.size());
  for (const FileEntry &f : files)
    out.push_back(f.path);
  return out;
}

} // namespace vaskit
