// SPDX-License-Identifier: MIT
#pragma once
// What our own resource manager asks of a backend: the resources it can reach and a session to
// one of them. The resource manager does the rest of VISA (find expressions, handles, find lists).
#include <memory>
#include <string>
#include <vector>

#include "visa/visa_types.h"

namespace kalivor::visa {

class DeviceSession {
 public:
  virtual ~DeviceSession() = default;
  // One call writes one whole message.
  virtual ViStatus write(const unsigned char* buf, ViUInt32 count, ViUInt32* written) = 0;
  // Reads at most count bytes. VI_SUCCESS when the message ended with this read (also when it
  // ended exactly at count bytes); VI_SUCCESS_MAX_CNT when count bytes arrived and more of the
  // message is queued for the next read; VI_ERROR_TMO (possibly with *got > 0) when nothing more
  // arrived within the time-out; VI_ERROR_CONN_LOST / VI_ERROR_IO when the device is gone.
  virtual ViStatus read(unsigned char* buf, ViUInt32 count, ViUInt32* got) = 0;
  virtual ViStatus setTimeout(ViUInt32 ms) = 0;
};

class DeviceProvider {
 public:
  virtual ~DeviceProvider() = default;
  virtual std::string name() const = 0;  // "simulated", "usbtmc", "gpib"
  // Resource strings in search order, e.g. "USB0::0x0000::0x0001::SIM0001::INSTR".
  virtual std::vector<std::string> listResources() = 0;
  // Opens a session; returns a VISA status (VI_ERROR_RSRC_NFOUND for an unknown resource).
  virtual ViStatus open(const std::string& resource, std::unique_ptr<DeviceSession>* session) = 0;
  // Lines describing what was found or why nothing was (permissions, missing driver...).
  virtual std::vector<std::string> notes() { return {}; }
};

}  // namespace kalivor::visa
