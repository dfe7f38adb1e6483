// Replays stored inputs through a harness's entry function, as libFuzzer would run them: every
// regular file of the folders given (a missing folder holds nothing). A failed property aborts.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size);

int main(int argc, char **argv) {
  std::vector<std::filesystem::path> files;
  for (int i = 1; i < argc; ++i) {
    std::error_code ec;
    if (!std::filesystem::is_directory(argv[i], ec))
      continue;
    for (const auto &entry : std::filesystem::recursive_directory_iterator(argv[i]))
      if (entry.is_regular_file())
        files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  for (const auto &path : files) {
    std::ifstream in(path, std::ios::binary);
    const std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::fprintf(stderr, "replaying %s (%zu bytes)\n", path.c_str(), data.size());
    // A copy of its own, as libFuzzer hands it: reads past the end are caught under ASan.
    std::vector<std::uint8_t> copy(data.begin(), data.end());
    LLVMFuzzerTestOneInput(copy.data(), copy.size());
  }
  std::printf("%zu inputs replayed\n", files.size());
  // An empty replay would pass without testing anything.
  return files.empty() ? 1 : 0;
}
