// A plain main for the fuzz targets: replays every file in the directories given through
// LLVMFuzzerTestOneInput, which aborts on a finding. An empty directory fails: a lost corpus.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  for (int i = 1; i < argc; ++i) {
    std::vector<fs::path> files;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(argv[i], error))
      if (entry.is_regular_file()) files.push_back(entry.path());
    if (files.empty()) return std::fprintf(stderr, "no inputs in %s\n", argv[i]), 1;
    std::sort(files.begin(), files.end());  // a stable order makes failures repeatable
    for (const fs::path& file : files) {
      std::ifstream in(file, std::ios::binary);
      const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                       std::istreambuf_iterator<char>());
      const uint8_t none = 0;  // fuzzers never pass a null pointer, not even for empty input
      LLVMFuzzerTestOneInput(bytes.empty() ? &none : bytes.data(), bytes.size());
    }
    std::printf("replayed %zu inputs from %s\n", files.size(), argv[i]);
  }
  return argc > 1 ? 0 : 2;
}
