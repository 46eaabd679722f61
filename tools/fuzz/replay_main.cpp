// The main of a fuzz target built without libFuzzer: runs the target's entry
// function once on every file named, or found in a folder named, on the
// command line (folders in name order, so a failure names the same input on
// every run). A folder that does not exist is passed over; no input at all is
// an error, so a test that replays nothing cannot pass.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

bool Replay(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "replay: cannot read %s\n", file.c_str());
    return false;
  }
  const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::fprintf(stderr, "replay: %s (%zu bytes)\n", file.c_str(), bytes.size());
  std::vector<std::uint8_t> data(bytes.begin(), bytes.end());
  // A copy of exactly the input's length, so reading past it is caught.
  LLVMFuzzerTestOneInput(data.empty() ? nullptr : data.data(), data.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int replayed = 0;
  bool ok = true;
  for (int i = 1; i < argc; ++i) {
    const std::filesystem::path arg(argv[i]);
    std::error_code ec;
    if (std::filesystem::is_directory(arg, ec)) {
      std::vector<std::filesystem::path> files;
      for (const auto& entry : std::filesystem::directory_iterator(arg)) {
        if (entry.is_regular_file()) files.push_back(entry.path());
      }
      std::sort(files.begin(), files.end());
      for (const auto& f : files) {
        ok = Replay(f) && ok;
        ++replayed;
      }
    } else if (std::filesystem::exists(arg, ec)) {
      ok = Replay(arg) && ok;
      ++replayed;
    }
  }
  std::printf("replayed %d inputs\n", replayed);
  if (replayed == 0) {
    std::fprintf(stderr, "replay: no input found\n");
    return 1;
  }
  return ok ? 0 : 1;
}
