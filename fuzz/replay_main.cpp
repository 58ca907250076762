// SPDX-License-Identifier: BSD-3-Clause
// Replays a fuzz target's corpus without libFuzzer: every file of the folders (or the single files)
// named on the command line is handed once to the target's entry function, in an exact-size heap
// copy so that the sanitizers of the build see any read past the input. A folder that is missing
// or holds no input fails the run, so that a corpus cannot silently drop out of the tests.
#include <dirent.h>
#include <stdio.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
// A target may set itself up once before the first input; most do not.
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

bool IsRegularFile(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The inputs `path` names: the file itself, or the regular files of the folder (hidden ones
// aside), sorted so that every run replays them in the same order. False if there is none.
bool CollectInputs(const std::string& path, std::vector<std::string>* inputs) {
  if (IsRegularFile(path)) {
    inputs->push_back(path);
    return true;
  }
  DIR* dir = opendir(path.c_str());
  if (!dir) {
    fprintf(stderr, "replay: %s is neither a file nor a readable folder\n", path.c_str());
    return false;
  }
  std::vector<std::string> found;
  while (dirent* entry = readdir(dir)) {
    const std::string child = path + "/" + entry->d_name;
    if (entry->d_name[0] != '.' && IsRegularFile(child)) found.push_back(child);
  }
  closedir(dir);
  if (found.empty()) {
    fprintf(stderr, "replay: the folder %s holds no input\n", path.c_str());
    return false;
  }
  std::sort(found.begin(), found.end());
  inputs->insert(inputs->end(), found.begin(), found.end());
  return true;
}

bool ReadInput(const std::string& path, std::vector<char>* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: %s <corpus folder or input file>...\n", argv[0]);
    return 2;
  }
  std::vector<std::string> inputs;
  for (int i = 1; i < argc; ++i) {
    if (!CollectInputs(argv[i], &inputs)) return 1;
  }
  if (LLVMFuzzerInitialize) LLVMFuzzerInitialize(&argc, &argv);
  for (const std::string& path : inputs) {
    std::vector<char> bytes;
    if (!ReadInput(path, &bytes)) {
      fprintf(stderr, "replay: cannot read %s\n", path.c_str());
      return 1;
    }
    // Announced before the run: a sanitizer report that ends the process names its input.
    printf("replay: %s (%zu bytes)\n", path.c_str(), bytes.size());
    fflush(stdout);
    std::unique_ptr<uint8_t[]> copy(new uint8_t[bytes.size()]);
    std::copy(bytes.begin(), bytes.end(), copy.get());
    LLVMFuzzerTestOneInput(copy.get(), bytes.size());
  }
  printf("replay: %zu inputs, no fault\n", inputs.size());
  return 0;
}
