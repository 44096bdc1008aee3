// SPDX-License-Identifier: MIT
#pragma once
// The eight VISA operations the program uses, behind one interface. Implemented by a vendor VISA
// library loaded at run time (vendor_library.h) and by our own resource manager over device
// providers (resource_manager.h): simulated instruments, Linux usbtmc, linux-gpib.
#include <string>

#include "visa/visa_types.h"

namespace kalivor::visa {

class VisaApi {
 public:
  virtual ~VisaApi() = default;

  // Which library or backends answer (for `kalivor-cli list --verbose` and traces).
  virtual std::string description() const = 0;

  virtual ViStatus viOpenDefaultRM(ViSession* rm) = 0;
  // desc receives the first match (VI_FIND_BUFLEN bytes, NUL-terminated); count the total.
  virtual ViStatus viFindRsrc(ViSession rm, const char* expr, ViFindList* list, ViUInt32* count,
                              char* desc) = 0;
  virtual ViStatus viFindNext(ViFindList list, char* desc) = 0;
  virtual ViStatus viOpen(ViSession rm, const char* name, ViAccessMode mode, ViUInt32 openTimeoutMs,
                          ViSession* session) = 0;
  virtual ViStatus viSetAttribute(ViObject object, ViAttr attribute, ViAttrState value) = 0;
  virtual ViStatus viWrite(ViSession session, const unsigned char* buf, ViUInt32 count,
                           ViUInt32* written) = 0;
  virtual ViStatus viRead(ViSession session, unsigned char* buf, ViUInt32 count, ViUInt32* got) = 0;
  virtual ViStatus viClose(ViObject object) = 0;
};

}  // namespace kalivor::visa
