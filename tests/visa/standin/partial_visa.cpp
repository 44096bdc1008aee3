// SPDX-License-Identifier: MIT
// A broken stand-in: seven of the eight VISA functions, no viClose. Loading it must fail with a
// message naming the missing function.
#include <cstdint>

#define PARTIAL_EXPORT extern "C" __attribute__((visibility("default")))

namespace {
constexpr int kSystemError = static_cast<int>(0xBFFF0000u);
}

PARTIAL_EXPORT int viOpenDefaultRM(unsigned int*) { return kSystemError; }
PARTIAL_EXPORT int viFindRsrc(unsigned int, const char*, unsigned int*, unsigned int*, char*) {
  return kSystemError;
}
PARTIAL_EXPORT int viFindNext(unsigned int, char*) { return kSystemError; }
PARTIAL_EXPORT int viOpen(unsigned int, const char*, unsigned int, unsigned int, unsigned int*) {
  return kSystemError;
}
PARTIAL_EXPORT int viSetAttribute(unsigned int, unsigned int, std::uint64_t) { return kSystemError; }
PARTIAL_EXPORT int viWrite(unsigned int, const unsigned char*, unsigned int, unsigned int*) {
  return kSystemError;
}
PARTIAL_EXPORT int viRead(unsigned int, unsigned char*, unsigned int, unsigned int*) {
  return kSystemError;
}
