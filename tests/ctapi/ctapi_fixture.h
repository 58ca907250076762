// The ground every CT-API test stands on: a fresh simulator, a private registry and error log,
// and the default system version. Each test runs in a process of its own, so the process's
// terminal table starts empty, and the machine-wide segment is new once no process holds it.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "ctapi/slots.h"
#include "sim/sim.h"
#include "tests/common/test_util.h"

namespace ctapitest {

inline void MakeFolders(const std::string& path) {
  for (size_t at = path.find('/', 1); at != std::string::npos; at = path.find('/', at + 1)) {
    mkdir(path.substr(0, at).c_str(), 0755);
  }
  mkdir(path.c_str(), 0755);
}

class CtapiTest : public ::testing::Test {
 protected:
  void SetUp() override { sim::Reset(); }

  // Adds readers named as PC/SC lists them; `display` and `pin_pad` apply to all of them.
  void AddReaders(std::initializer_list<const char*> names, bool display = false) {
    for (const char* name : names) {
      sim::ReaderSpec reader;
      reader.name = name;
      reader.display = display;
      reader.keypad = display;
      sim::AddReader(reader);
    }
  }

  // Sets the registry value SinglePort of the CT-API key.
  void SetSinglePort(const std::string& text) {
    std::string key =
        registry_.path() + "/HKEY_LOCAL_MACHINE/System/CurrentControlSet/Control/Kelvane/CT-API";
    MakeFolders(key);
    testutil::WriteFile(key + "/SinglePort", text);
  }

  ctapi::TerminalSlot& SlotAt(int index) { return ctapi::SlotTable()[index]; }

  testutil::TempDir registry_;
  testutil::TempDir logs_;
  std::string log_ = logs_.File("err.log");
  testutil::ScopedEnv registry_env_{"CTKORVIN_REGISTRY", registry_.path().c_str()};
  testutil::ScopedEnv log_env_{"ERRLFILE", log_.c_str()};
  testutil::ScopedEnv os_env_{"CTKORVIN_OSVERSION", nullptr};
};

}  // namespace ctapitest
