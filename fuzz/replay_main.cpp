// Replays every file of the corpus folders given on the command line through the fuzz
// target, so the corpus runs as a regression test where libFuzzer is not available.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

static int replay(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  return 1;
}

int main(int argc, char** argv) {
  int count = 0;
  for (int i = 1; i < argc; ++i) {
    std::filesystem::path arg(argv[i]);
    if (std::filesystem::is_directory(arg)) {
      for (const auto& entry : std::filesystem::recursive_directory_iterator(arg))
        if (entry.is_regular_file()) count += replay(entry.path());
    } else if (std::filesystem::exists(arg)) {
      count += replay(arg);
    }
  }
  LLVMFuzzerTestOneInput(nullptr, 0);  // the empty input is always part of the corpus
  std::printf("replayed %d inputs\n", count + 1);
  return 0;
}
