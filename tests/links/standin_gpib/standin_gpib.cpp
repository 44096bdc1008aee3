// SPDX-License-Identifier: MIT
// A stand-in for linux-gpib's libgpib with the calls the GPIB provider makes, over a few
// simulated listeners with scripted answers. Tests load it by path and script it through the
// standin_* functions (standin_gpib.h).
//
// Built twice: with ThreadIbsta and friends (the per-thread results of current linux-gpib; the
// process-wide variables are then left at poison values so a provider reading them is caught),
// and with STANDIN_GLOBALS_ONLY, like an old libgpib that only has the variables.
#include "standin_gpib.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr int ERR = 0x8000;
constexpr int TIMO = 0x4000;
constexpr int END = 0x2000;
constexpr int CMPL = 0x100;
constexpr int ENOL = 2;
constexpr int EARG = 4;
constexpr int EABO = 6;
constexpr int ENEB = 7;

struct Listener {
  int board = 0;
  int pad = 0;
  int sad = 0;
  bool on = true;
  std::map<std::string, std::string> answers;
  std::deque<std::string> queued;
};

struct Failure {
  std::string op;
  int err = 0;
  long cntl = 0;
  bool timo = false;
  long partial = 0;
};

struct State {
  std::vector<int> boards{0};
  std::deque<Listener> listeners;  // stable addresses: descriptors point at them
  std::map<int, Listener*> devices;  // ud -> listener
  int nextUd = 16;                   // descriptors of devices follow those of the boards
  std::deque<Failure> failures;
  std::string log;
  int sta = 0;
  int err = 0;
  long cnt = 0;
};

State& state() {
  static State s;
  return s;
}

int finish(int sta, int err, long cnt);

Listener* listenerAt(int board, int pad, int sad) {
  for (Listener& l : state().listeners) {
    if (l.board == board && l.pad == pad && (sad == 0 || l.sad == sad)) return &l;
  }
  return nullptr;
}

bool boardPresent(int board) {
  const auto& b = state().boards;
  return std::find(b.begin(), b.end(), board) != b.end();
}

// Takes a scripted failure for this call, if one is waiting.
bool takeFailure(const char* op, Failure* out) {
  auto& f = state().failures;
  if (f.empty() || f.front().op != op) return false;
  *out = f.front();
  f.pop_front();
  return true;
}

void logLine(const std::string& line) { state().log += line + "\n"; }

}  // namespace

#ifdef STANDIN_GLOBALS_ONLY
extern "C" {
volatile int ibsta = 0;
volatile int iberr = 0;
volatile int ibcnt = 0;
volatile long ibcntl = 0;
}
#else
extern "C" {
// Never updated: a provider that reads these instead of the per-thread results sees nonsense.
volatile int ibsta = ERR;
volatile int iberr = 99;
volatile int ibcnt = -7;
volatile long ibcntl = -7;
int ThreadIbsta(void) { return state().sta; }
int ThreadIberr(void) { return state().err; }
int ThreadIbcnt(void) { return static_cast<int>(state().cnt); }
long ThreadIbcntl(void) { return state().cnt; }
}
#endif

namespace {

int finish(int sta, int err, long cnt) {
  State& s = state();
  s.sta = sta;
  s.err = err;
  s.cnt = cnt;
#ifdef STANDIN_GLOBALS_ONLY
  ibsta = sta;
  iberr = err;
  ibcnt = static_cast<int>(cnt);
  ibcntl = cnt;
#endif
  return sta;
}

int fail(const Failure& f, long cnt = 0) {
  return finish(ERR | (f.timo ? TIMO : 0) | CMPL, f.err, f.err == 0 ? f.cntl : cnt);
}

}  // namespace

extern "C" {

int ibdev(int board, int pad, int sad, int tmo, int send_eoi, int eos) {
  logLine("ibdev " + std::to_string(board) + " " + std::to_string(pad) + " " + std::to_string(sad) +
          " " + std::to_string(tmo) + " " + std::to_string(send_eoi) + " " + std::to_string(eos));
  Failure f;
  if (takeFailure("ibdev", &f)) {
    fail(f);
    return -1;
  }
  if (!boardPresent(board)) {
    finish(ERR, ENEB, 0);
    return -1;
  }
  if (pad < 0 || pad > 30 || tmo < 0 || tmo > 17) {
    finish(ERR, EARG, 0);
    return -1;
  }
  // Like linux-gpib, a descriptor is made whether or not anything listens there.
  Listener* l = listenerAt(board, pad, sad);
  static Listener nobody = [] {
    Listener n;
    n.on = false;
    return n;
  }();
  const int ud = state().nextUd++;
  state().devices[ud] = l != nullptr ? l : &nobody;
  finish(CMPL, 0, 0);
  return ud;
}

int ibonl(int ud, int online) {
  logLine("ibonl " + std::to_string(ud) + " " + std::to_string(online));
  if (state().devices.erase(ud) == 0) return finish(ERR, EARG, 0);
  return finish(CMPL, 0, 0);
}

int ibtmo(int ud, int v) {
  logLine("ibtmo " + std::to_string(ud) + " " + std::to_string(v));
  Failure f;
  if (takeFailure("ibtmo", &f)) return fail(f);
  if (state().devices.count(ud) == 0 || v < 0 || v > 17) return finish(ERR, EARG, 0);
  return finish(CMPL, 0, 0);
}

int ibwrt(int ud, const void* buf, long count) {
  const std::string bytes(static_cast<const char*>(buf), static_cast<std::size_t>(count));
  logLine("ibwrt " + std::to_string(ud) + " " + bytes);
  Failure f;
  if (takeFailure("ibwrt", &f)) return fail(f, f.partial);
  const auto it = state().devices.find(ud);
  if (it == state().devices.end()) return finish(ERR, EARG, 0);
  Listener* l = it->second;
  if (!l->on) return finish(ERR, ENOL, 0);
  const auto answer = l->answers.find(bytes);
  if (answer != l->answers.end()) l->queued.push_back(answer->second);
  return finish(CMPL, 0, count);
}

int ibrd(int ud, void* buf, long count) {
  logLine("ibrd " + std::to_string(ud) + " " + std::to_string(count));
  const auto it = state().devices.find(ud);
  if (it == state().devices.end()) return finish(ERR, EARG, 0);
  Listener* l = it->second;
  Failure f;
  if (takeFailure("ibrd", &f)) {
    long n = 0;
    if (!l->queued.empty() && f.partial > 0) {
      std::string& m = l->queued.front();
      n = std::min<long>({f.partial, count, static_cast<long>(m.size())});
      std::memcpy(buf, m.data(), static_cast<std::size_t>(n));
      m.erase(0, static_cast<std::size_t>(n));
      if (m.empty()) l->queued.pop_front();
    }
    return fail(f, n);
  }
  // Nothing to say: the read waits out the time-out and is aborted.
  if (!l->on || l->queued.empty()) return finish(ERR | TIMO | CMPL, EABO, 0);
  std::string& m = l->queued.front();
  const long n = std::min<long>(count, static_cast<long>(m.size()));
  std::memcpy(buf, m.data(), static_cast<std::size_t>(n));
  m.erase(0, static_cast<std::size_t>(n));
  int sta = CMPL;
  if (m.empty()) {
    l->queued.pop_front();
    sta |= END;
  }
  return finish(sta, 0, n);
}

int ibln(int ud, int pad, int sad, short* found) {
  logLine("ibln " + std::to_string(ud) + " " + std::to_string(pad) + " " + std::to_string(sad));
  *found = 0;
  Failure f;
  if (takeFailure("ibln", &f)) return fail(f);
  if (!boardPresent(ud)) return finish(ERR, ENEB, 0);
  const Listener* l = listenerAt(ud, pad, sad);
  *found = (l != nullptr && l->on) ? 1 : 0;
  return finish(CMPL, 0, 0);
}

void standin_reset(void) { state() = State{}; }

void standin_set_boards(const int* boards, int n) { state().boards.assign(boards, boards + n); }

void standin_add_listener(int board, int pad, int sad) {
  Listener l;
  l.board = board;
  l.pad = pad;
  l.sad = sad;
  state().listeners.push_back(std::move(l));
}

void standin_answer(int board, int pad, int sad, const char* query, const char* answer, long len) {
  if (Listener* l = listenerAt(board, pad, sad)) l->answers[query] = std::string(answer, len);
}

void standin_queue(int board, int pad, int sad, const char* data, long len) {
  if (Listener* l = listenerAt(board, pad, sad)) l->queued.emplace_back(data, len);
}

void standin_power(int board, int pad, int sad, int on) {
  if (Listener* l = listenerAt(board, pad, sad)) l->on = on != 0;
}

void standin_fail_next(const char* op, int err, long cntl, int timo, long partial) {
  state().failures.push_back(Failure{op, err, cntl, timo != 0, partial});
}

const char* standin_log(void) { return state().log.c_str(); }

int standin_open_devices(void) { return static_cast<int>(state().devices.size()); }

}  // extern "C"
