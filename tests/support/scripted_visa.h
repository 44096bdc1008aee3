// SPDX-License-Identifier: MIT
#pragma once
// A VISA stand-in for conversation tests: a fixed list of resources, each answering queries from
// a script, and a log of every call so a test can check the exact bytes and counts.
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "common/clock.h"
#include "visa/visa_api.h"

namespace kalivor::testing {

struct ScriptedResource {
  std::string name;
  // Answers by the exact message written (line feed included); an unlisted query gets nothing.
  std::map<std::string, std::string> answers;
  // Or a function deciding the answer; used when set.
  std::function<std::string(const std::string& written)> respond;
  bool silent = false;  // never answers: reads time out
  // Runs at the start of every read of the resource (a test can hold the read there).
  std::function<void()> beforeRead;
};

struct VisaCall {
  std::string op;        // "open", "attr", "write", "read", "close", "find", "findnext", "rm"
  std::string resource;  // resource of the session, if any
  std::string bytes;     // written or read bytes
  unsigned count = 0;    // count passed (write) or returned (read)
  visa::ViStatus status = 0;
};

class ScriptedVisa final : public visa::VisaApi {
 public:
  explicit ScriptedVisa(Clock& clock) : clock_(clock) {}

  std::vector<ScriptedResource> resources;
  std::vector<VisaCall> calls;
  visa::ViStatus openRmStatus = visa::VI_SUCCESS;

  std::string description() const override { return "scripted"; }
  visa::ViStatus viOpenDefaultRM(visa::ViSession* rm) override;
  visa::ViStatus viFindRsrc(visa::ViSession rm, const char* expr, visa::ViFindList* list,
                            visa::ViUInt32* count, char* desc) override;
  visa::ViStatus viFindNext(visa::ViFindList list, char* desc) override;
  visa::ViStatus viOpen(visa::ViSession rm, const char* name, visa::ViAccessMode mode,
                        visa::ViUInt32 timeout, visa::ViSession* session) override;
  visa::ViStatus viSetAttribute(visa::ViObject object, visa::ViAttr attribute,
                                visa::ViAttrState value) override;
  visa::ViStatus viWrite(visa::ViSession session, const unsigned char* buf, visa::ViUInt32 count,
                         visa::ViUInt32* written) override;
  visa::ViStatus viRead(visa::ViSession session, unsigned char* buf, visa::ViUInt32 count,
                        visa::ViUInt32* got) override;
  visa::ViStatus viClose(visa::ViObject object) override;

  // Every write to the resource, in order.
  std::vector<std::string> writesTo(const std::string& resource) const;
  std::vector<VisaCall> callsOf(const std::string& op) const;
  // Queue an answer for the next read of a resource (beside the scripted ones).
  void queueAnswer(const std::string& resource, const std::string& bytes);
  // Sessions still open.
  std::size_t openSessions() const { return sessions_.size(); }
  visa::ViAttrState timeoutOf(const std::string& resource) const;

 private:
  struct Session {
    std::size_t resource;
    std::string pending;
    visa::ViAttrState timeout = 2000;
  };
  Clock& clock_;
  visa::ViSession nextHandle_ = 100;
  visa::ViSession rm_ = 0;
  visa::ViFindList list_ = 0;
  std::size_t findPos_ = 0;
  std::map<visa::ViSession, Session> sessions_;
  std::map<std::string, visa::ViAttrState> timeouts_;
};

}  // namespace kalivor::testing
