// SPDX-License-Identifier: BSD-3-Clause
// Configuration files of 10,000 entries through the front end (goal: 50 ms or less for an ASCII
// file opened, queried and written back):
// - an ASCII file of 100 sections of 100 entries opened for writing, every entry queried, one
//   value changed and the file written back at close, with the line lists plain and sorted;
// - a binary file: 10,000 entries added to a new file, then every one of them looked up.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "config/frontend.h"

namespace {

constexpr int kSections = 100;
constexpr int kEntriesPerSection = 100;

std::string Section(int s) {
  return "Section" + std::to_string(s);
}
std::string Entry(int e) {
  return "Entry" + std::to_string(e);
}
std::string Value(int s, int e) {
  return "value of entry " + std::to_string(e) + " in section " + std::to_string(s);
}

// A folder of its own for the files of one benchmark, removed with them.
class Scratch {
 public:
  Scratch() {
    const char* base = getenv("TMPDIR");
    folder_ = std::string(base && *base ? base : "/tmp") + "/kvconfigbench.XXXXXX";
    if (!mkdtemp(&folder_[0])) folder_.clear();
  }
  ~Scratch() {
    std::remove(File("ascii.ini").c_str());
    std::remove(File("binary.cfg").c_str());
    if (!folder_.empty()) rmdir(folder_.c_str());
  }
  bool ok() const { return !folder_.empty(); }
  std::string File(const char* name) const { return folder_ + "/" + name; }

 private:
  std::string folder_;
};

bool WriteAsciiFile(const std::string& path) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  for (int s = 0; s < kSections; ++s) {
    std::fprintf(file, "[%s]\r\n", Section(s).c_str());
    for (int e = 0; e < kEntriesPerSection; ++e)
      std::fprintf(file, "%s=%s\r\n", Entry(e).c_str(), Value(s, e).c_str());
  }
  return std::fclose(file) == 0;
}

cfg::CfgHandle* Open(const std::string& path, uint32_t type) {
  uint32_t open_result = 0;
  cfg::CfgHandle* handle = nullptr;
  return cfg::OpenFile(path.c_str(), &type, &open_result, &handle) == 0 ? handle : nullptr;
}

uint32_t Query(cfg::CfgHandle* handle, int s, int e) {
  char buffer[64];
  uint32_t length = sizeof buffer;
  return cfg::QueryData(handle, Section(s).c_str(), Entry(e).c_str(), buffer, &length);
}

// Argument: sorted lists.
void BM_AsciiOpenQueryWriteBack(benchmark::State& state) {
  Scratch scratch;
  const std::string path = scratch.File("ascii.ini");
  if (!scratch.ok() || !WriteAsciiFile(path) ||
      cfg::Init(static_cast<uint32_t>(state.range(0)), 0, 0) != 0) {
    state.SkipWithError("cannot set up the file");
    return;
  }
  uint32_t round = 0;
  for (auto _ : state) {
    cfg::CfgHandle* handle = Open(path, cfg::kTypeAscii);
    if (!handle) {
      state.SkipWithError("open failed");
      return;
    }
    uint32_t failed = 0;
    for (int s = 0; s < kSections; ++s) {
      for (int e = 0; e < kEntriesPerSection; ++e)
        failed += Query(handle, s, e) != 0;
    }
    const std::string value = "changed " + std::to_string(++round);
    failed += cfg::WriteData(handle, "Section50", "Entry50", value.c_str(),
                             static_cast<uint32_t>(value.size() + 1)) != 0;
    failed += cfg::CloseFile(handle) != 0;
    if (failed != 0) {
      state.SkipWithError("a query or the write-back failed");
      return;
    }
  }
  state.counters["entries"] = kSections * kEntriesPerSection;
}
BENCHMARK(BM_AsciiOpenQueryWriteBack)
    ->ArgName("sorted")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond);

void BM_BinaryAddAndLookUp(benchmark::State& state) {
  Scratch scratch;
  const std::string path = scratch.File("binary.cfg");
  if (!scratch.ok() || cfg::Init(0, 0, 0) != 0) {
    state.SkipWithError("cannot set up");
    return;
  }
  for (auto _ : state) {
    std::remove(path.c_str());
    cfg::CfgHandle* handle = Open(path, cfg::kTypeBinary);
    if (!handle) {
      state.SkipWithError("open failed");
      return;
    }
    uint32_t failed = 0;
    for (int s = 0; s < kSections; ++s) {
      for (int e = 0; e < kEntriesPerSection; ++e) {
        const std::string value = Value(s, e);
        failed += cfg::WriteData(handle, Section(s).c_str(), Entry(e).c_str(), value.c_str(),
                                 static_cast<uint32_t>(value.size() + 1)) != 0;
      }
    }
    for (int s = 0; s < kSections; ++s) {
      for (int e = 0; e < kEntriesPerSection; ++e)
        failed += Query(handle, s, e) != 0;
    }
    failed += cfg::CloseFile(handle) != 0;
    if (failed != 0) {
      state.SkipWithError("an add, a lookup or the close failed");
      return;
    }
  }
  state.counters["entries"] = kSections * kEntriesPerSection;
}
BENCHMARK(BM_BinaryAddAndLookUp)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
