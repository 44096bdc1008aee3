// SPDX-License-Identifier: MIT
#pragma once
// Passes every VISA call on to another VisaApi and appends one line per call to a trace file: the
// local time with milliseconds, the resource of the session, the operation, the bytes (control
// characters escaped) and the status. Each line is flushed as it is written, so the trace a user
// attaches to a bug report is complete up to the moment the program died.
//
//   2024/05/06 13:45:10.001 USB0::0x0000::0x0001::SIM0001::INSTR write 5 "*IDN?" status 0x00000000 VI_SUCCESS
//   2024/05/06 13:45:10.051 USB0::0x0000::0x0001::SIM0001::INSTR read 11 "MAKER,M100\n" in 0 ms status ...
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <mutex>
#include <unordered_map>

#include "common/clock.h"
#include "visa/visa_api.h"

namespace kalivor::visa {

class TracingVisa final : public VisaApi {
 public:
  struct OpenResult {
    std::unique_ptr<TracingVisa> api;  // null when the trace file cannot be opened
    std::string error;
  };
  // Appends to traceFile (earlier traces are kept); the clock stamps the lines.
  static OpenResult open(std::unique_ptr<VisaApi> inner, Clock& clock, const std::string& traceFile);

  ~TracingVisa() override;
  TracingVisa(const TracingVisa&) = delete;
  TracingVisa& operator=(const TracingVisa&) = delete;

  VisaApi& inner() { return *inner_; }
  const VisaApi& inner() const { return *inner_; }
  const std::string& traceFile() const { return path_; }

  // The inner description, "traced to FILE".
  std::string description() const override;

  ViStatus viOpenDefaultRM(ViSession* rm) override;
  ViStatus viFindRsrc(ViSession rm, const char* expr, ViFindList* list, ViUInt32* count,
                      char* desc) override;
  ViStatus viFindNext(ViFindList list, char* desc) override;
  ViStatus viOpen(ViSession rm, const char* name, ViAccessMode mode, ViUInt32 openTimeoutMs,
                  ViSession* session) override;
  ViStatus viSetAttribute(ViObject object, ViAttr attribute, ViAttrState value) override;
  ViStatus viWrite(ViSession session, const unsigned char* buf, ViUInt32 count,
                   ViUInt32* written) override;
  ViStatus viRead(ViSession session, unsigned char* buf, ViUInt32 count, ViUInt32* got) override;
  ViStatus viClose(ViObject object) override;

  // A line of the program's own (a meter lost or back during a run), between the calls.
  void note(const std::string& who, const std::string& what);
  // Bytes as they appear in the trace, between double quotes: control characters, bytes above
  // 0x7F, '"' and '\' escaped.
  static std::string quoteBytes(std::string_view bytes);
  // "0x3FFF0006 VI_SUCCESS_MAX_CNT" (the name only for statuses the program knows).
  static std::string statusText(ViStatus status);

 private:
  TracingVisa(std::unique_ptr<VisaApi> inner, Clock& clock, std::FILE* file, std::string path);

  struct Name {
    std::string text;
    ViObject manager = 0;  // what closing this manager also closes
  };
  std::string nameOf(ViObject object) const;
  void line(const std::string& who, const std::string& what);

  std::unique_ptr<VisaApi> inner_;
  Clock& clock_;
  std::FILE* file_;
  std::string path_;
  std::unordered_map<ViObject, Name> names_;
  // Port threads call on different sessions at once: the name table and the file are shared.
  mutable std::mutex mutex_;
};

}  // namespace kalivor::visa
