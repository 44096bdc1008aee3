// SPDX-License-Identifier: MIT
// Discovery over a VISA library that says whatever the input says: any number of resources with
// any names, any statuses, identity, card and serial answers of any bytes and lengths, reads that
// claim more than they were given. Discovery must list at most four well-formed instruments, keep
// its buffers, and a refresh must close every session it opened.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

#include "common/clock.h"
#include "common/messages.h"
#include "instrument/instrument_link.h"

namespace {

using namespace kalivor;
using namespace kalivor::visa;

void check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "discovery: %s\n", what);
  std::abort();
}

// Statuses a library may give; the first one is what an exhausted input gives.
constexpr ViStatus kStatuses[] = {VI_SUCCESS,        VI_SUCCESS_MAX_CNT, VI_ERROR_TMO,
                                  VI_ERROR_CONN_LOST, VI_ERROR_IO,        VI_SUCCESS_TERM_CHAR,
                                  VI_ERROR_RSRC_NFOUND, VI_ERROR_SYSTEM_ERROR};

class FuzzedVisa final : public VisaApi {
 public:
  explicit FuzzedVisa(FuzzedDataProvider& in) : in_(in) {}

  std::string description() const override { return "fuzzed"; }

  ViStatus viOpenDefaultRM(ViSession* rm) override {
    const ViStatus st = status(8);
    *rm = st < 0 ? 0 : handle();
    return st;
  }
  ViStatus viFindRsrc(ViSession rm, const char* expr, ViFindList* list, ViUInt32* count,
                      char* desc) override {
    check(open_.count(rm) == 1, "find on an open resource manager");
    const ViStatus st = status(8);
    if (st < 0) {
      *list = 0;
      *count = 0;
      return st;
    }
    *list = handle();
    *count = in_.ConsumeBool() ? in_.ConsumeIntegralInRange<ViUInt32>(0, 40)
                               : in_.ConsumeIntegralInRange<ViUInt32>(0, 5);
    name(desc);
    return st;
  }
  ViStatus viFindNext(ViFindList list, char* desc) override {
    check(open_.count(list) == 1, "find next on an open find list");
    const ViStatus st = status(16);
    if (st >= 0) name(desc);
    return st;
  }
  ViStatus viOpen(ViSession rm, const char* rsrc, ViAccessMode, ViUInt32,
                  ViSession* session) override {
    check(open_.count(rm) == 1, "open through an open resource manager");
    check(std::strlen(rsrc) <= VI_FIND_BUFLEN, "resource names fit the find buffer");
    const ViStatus st = status(16);
    *session = st < 0 ? 0 : handle();
    return st;
  }
  ViStatus viSetAttribute(ViObject, ViAttr, ViAttrState) override { return status(16); }
  ViStatus viWrite(ViSession, const unsigned char*, ViUInt32 count, ViUInt32* written) override {
    const ViStatus st = status(16);
    if (written != nullptr) *written = st < 0 ? 0 : count;
    return st;
  }
  ViStatus viRead(ViSession, unsigned char* buf, ViUInt32 count, ViUInt32* got) override {
    const ViStatus st = status(4);
    std::string answer = in_.ConsumeRandomLengthString(count + 64);
    const std::size_t n = std::min<std::size_t>(answer.size(), count);
    std::memcpy(buf, answer.data(), n);
    // A misbehaving library may claim more than the buffer holds.
    *got = in_.ConsumeIntegralInRange<int>(0, 15) == 15 ? count + 100 : static_cast<ViUInt32>(n);
    return st;
  }
  ViStatus viClose(ViObject object) override {
    if (object != 0) check(open_.erase(object) == 1, "only open handles are closed, once");
    return VI_SUCCESS;
  }

  std::size_t openHandles() const { return open_.size(); }

 private:
  // Mostly success, so discovery gets past the first steps: 1 in `odds` is another status.
  ViStatus status(int odds) {
    if (in_.ConsumeIntegralInRange(0, odds - 1) != odds - 1) return VI_SUCCESS;
    return in_.PickValueInArray(kStatuses);
  }
  ViSession handle() {
    const ViSession h = next_++;
    open_.insert(h);
    return h;
  }
  void name(char* desc) {
    // Up to the full buffer, not always terminated inside it: the caller's buffer has room for
    // the terminator after VI_FIND_BUFLEN bytes.
    const std::string n = in_.ConsumeRandomLengthString(VI_FIND_BUFLEN);
    std::memcpy(desc, n.data(), n.size());
    if (n.size() < VI_FIND_BUFLEN) desc[n.size()] = '\0';
  }

  FuzzedDataProvider& in_;
  ViSession next_ = 1;
  std::set<ViSession> open_;
};

bool endsWith(const std::string& s, const char* tail) {
  const std::size_t n = std::strlen(tail);
  return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

void checkListing(const InstrumentLink& link) {
  check(link.InstrumentCount >= 0 && link.InstrumentCount <= kMaxListed, "at most four listed");
  for (int i = 0; i < link.InstrumentCount; ++i) {
    const DiscoveredInstrument& d = link.identified[static_cast<std::size_t>(i)];
    check(d.ScanerCard >= 1 && d.ScanerCard <= 4, "listed cards are known cards");
    check(d.ChannelCount == 10 || d.ChannelCount == 20, "10 or 20 channels");
    check(d.ChannelCount == (d.ScanerCard == 2 ? 20 : 10), "channels follow the card");
    check(endsWith(d.Description, "10ch") || endsWith(d.Description, "20ch"),
          "descriptions end in the channel count");
    check(d.Description.find('\n') == std::string::npos, "no line feed in a description");
    check(d.ResourceIndex >= 0 && d.ResourceIndex < static_cast<int>(kDeviceSessionCount),
          "resource index inside the session table");
  }
  check(link.ReplyBuffer.size() == kReplyBufferSize, "the reply buffer keeps its size");
  check(link.LastTransferCount <= kReplyBufferSize, "no transfer beyond the buffer");
  check(link.ResourceDescriptor.size() == VI_FIND_BUFLEN, "the descriptor keeps its size");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  ManualClock clock;
  RecordingMessages messages;
  FuzzedVisa visa(in);
  InstrumentLink link(visa, clock, messages);

  for (int round = 0; round < 2; ++round) {
    link.DiscoverInstruments();
    checkListing(link);
    // What selection and a run then ask of a listed instrument.
    for (int i = 0; i < link.InstrumentCount; ++i) {
      link.slots[static_cast<std::size_t>(i)].DiscoveredIndex = static_cast<std::int16_t>(i);
      link.SendCommand("rout:scan:state?", i);
      check(link.receivedText().size() <= kReplyBufferSize, "received text inside the buffer");
      link.ReadReply(i);
      check(link.ReplyBuffer.size() == kReplyBufferSize, "the reply buffer keeps its size");
    }
    link.closeForRefresh();
    check(visa.openHandles() == 0, "a refresh closes everything discovery opened");
  }
  return 0;
}
