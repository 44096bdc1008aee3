// SPDX-License-Identifier: MIT
#pragma once
// Talking to simulated meters the way the program does: one write per message, 1024-byte reads.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "sim/sim_provider.h"

namespace kalivor::sim::testing {

struct ReadResult {
  visa::ViStatus status = 0;
  std::string bytes;
};

inline visa::ViStatus send(visa::DeviceSession& s, const std::string& text) {
  visa::ViUInt32 written = 0;
  const auto status =
      s.write(reinterpret_cast<const unsigned char*>(text.data()),
              static_cast<visa::ViUInt32>(text.size()), &written);
  if (visa::succeeded(status)) {
    EXPECT_EQ(written, text.size()) << text;
  }
  return status;
}

inline ReadResult readOnce(visa::DeviceSession& s, visa::ViUInt32 count = 1024) {
  std::string buf(count, '\x7f');
  visa::ViUInt32 got = 0;
  ReadResult r;
  r.status = s.read(reinterpret_cast<unsigned char*>(buf.data()), count, &got);
  r.bytes = buf.substr(0, got);
  return r;
}

// Writes a query and returns its answer (one read); the status must be VI_SUCCESS.
inline std::string ask(visa::DeviceSession& s, const std::string& text) {
  EXPECT_EQ(send(s, text), visa::VI_SUCCESS) << text;
  const ReadResult r = readOnce(s);
  EXPECT_EQ(r.status, visa::VI_SUCCESS) << text;
  return r.bytes;
}

inline std::unique_ptr<visa::DeviceSession> openSession(SimProvider& p, std::size_t i) {
  std::unique_ptr<visa::DeviceSession> s;
  EXPECT_EQ(p.open(p.instrument(i).config().resource, &s), visa::VI_SUCCESS);
  if (s) {
    EXPECT_EQ(s->setTimeout(30000), visa::VI_SUCCESS);
  }
  return s;
}

inline SimInstrumentConfig meter(const std::string& card, const std::string& serial = "SIM0009") {
  SimInstrumentConfig c;
  c.resource = "USB0::0x0000::0x0001::" + serial + "::INSTR";
  c.identity = "SIMULATED,M100," + serial + ",1.0";
  c.card = card;
  c.serial = serial;
  return c;
}

}  // namespace kalivor::sim::testing
