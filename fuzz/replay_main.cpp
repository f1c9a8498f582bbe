// Replays inputs through LLVMFuzzerTestOneInput without libFuzzer, so a fuzz
// target also builds with g++ and its seeds run as an ordinary test.
//
// Usage: <target> PATH...   every regular file of each folder (in name
// order) and every file named. Fails when a path cannot be read or when no
// input was found at all, so a missing seeds folder does not pass.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

bool ReadFile(const std::filesystem::path& path, std::vector<uint8_t>* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::filesystem::path> inputs;
  for (int i = 1; i < argc; ++i) {
    const std::filesystem::path path(argv[i]);
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
      std::vector<std::filesystem::path> files;
      for (const auto& entry : std::filesystem::directory_iterator(path, ec)) {
        if (entry.is_regular_file()) files.push_back(entry.path());
      }
      if (ec) {
        std::fprintf(stderr, "cannot list %s: %s\n", argv[i], ec.message().c_str());
        return 1;
      }
      std::sort(files.begin(), files.end());
      inputs.insert(inputs.end(), files.begin(), files.end());
    } else {
      inputs.push_back(path);
    }
  }
  if (inputs.empty()) {
    std::fprintf(stderr, "no inputs to replay\n");
    return 1;
  }
  std::vector<uint8_t> bytes;
  for (const auto& path : inputs) {
    if (!ReadFile(path, &bytes)) {
      std::fprintf(stderr, "cannot read %s\n", path.c_str());
      return 1;
    }
    // A buffer of exactly the input's size, so that a sanitizer sees a read
    // past its end; never null, as under libFuzzer.
    std::unique_ptr<uint8_t[]> input(new uint8_t[bytes.size()]);
    if (!bytes.empty()) std::memcpy(input.get(), bytes.data(), bytes.size());
    LLVMFuzzerTestOneInput(input.get(), bytes.size());
  }
  std::printf("replayed %zu inputs\n", inputs.size());
  return 0;
}
