// SPDX-License-Identifier: MIT
#pragma once
// Starts the stand-in vendor library afresh, reading its simulation file from the environment.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>

namespace kalivor::visa::testing {

// simFile null: the two default instruments.
inline void resetStandin(const char* simFile) {
  if (simFile != nullptr) {
    ::setenv("KALIVOR_STANDIN_SIM_FILE", simFile, 1);
  } else {
    ::unsetenv("KALIVOR_STANDIN_SIM_FILE");
  }
  void* h = dlopen(KALIVOR_STANDIN_VISA, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(h, nullptr) << dlerror();
  auto reset = reinterpret_cast<void (*)()>(dlsym(h, "kalivor_standin_reset"));
  ASSERT_NE(reset, nullptr);
  reset();
  dlclose(h);
}

}  // namespace kalivor::visa::testing
