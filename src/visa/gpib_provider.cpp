// SPDX-License-Identifier: MIT
#include "visa/gpib_provider.h"

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>

#include "common/text.h"

namespace kalivor::visa {

struct GpibLibrary {
  void* handle = nullptr;
  int (*ibdev)(int, int, int, int, int, int) = nullptr;
  int (*ibwrt)(int, const void*, long) = nullptr;
  int (*ibrd)(int, void*, long) = nullptr;
  int (*ibtmo)(int, int) = nullptr;
  int (*ibonl)(int, int) = nullptr;
  int (*ibln)(int, int, int, short*) = nullptr;
  // Per-thread results where the library has them, the process-wide variables otherwise.
  int (*threadIberr)() = nullptr;
  int (*threadIbcnt)() = nullptr;
  long (*threadIbcntl)() = nullptr;
  volatile int* iberr = nullptr;
  volatile int* ibcnt = nullptr;
  volatile long* ibcntl = nullptr;

  ~GpibLibrary() {
    if (handle != nullptr) dlclose(handle);
  }

  int error() const {
    if (threadIberr != nullptr) return threadIberr();
    return iberr != nullptr ? *iberr : -1;
  }
  long count() const {
    if (threadIbcntl != nullptr) return threadIbcntl();
    if (ibcntl != nullptr) return *ibcntl;
    if (threadIbcnt != nullptr) return threadIbcnt();
    return ibcnt != nullptr ? *ibcnt : 0;
  }
};

namespace {

const char* const kGroupAdvice =
    "configure the board with gpib_config (as root, after loading the driver module), add "
    "yourself to the gpib group (sudo usermod -aG gpib $USER, then log out and in) and check that "
    "/dev/gpib0 belongs to that group";

std::optional<int> parseInt(std::string_view s) {
  if (s.empty()) return std::nullopt;
  int v = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v, 10);
  if (ec != std::errc() || end != s.data() + s.size() || v < 0) return std::nullopt;
  return v;
}

template <typename F>
void bind(void* handle, const char* name, F& out) {
  out = reinterpret_cast<F>(dlsym(handle, name));
}

// linux-gpib writes secondary addresses 0..30 as 0x60..0x7E and 0 for "none".
int sadCode(const std::optional<int>& sad) { return sad ? 0x60 + *sad : 0; }

std::string errorText(int err, long cntl) {
  switch (err) {
    case kGpibEdvr: return std::string("system error: ") + std::strerror(static_cast<int>(cntl));
    case kGpibEcic: return "the board is not controller in charge";
    case kGpibEnol: return "no listener";
    case kGpibEarg: return "invalid argument";
    case kGpibEabo: return "aborted (time-out)";
    case kGpibEneb: return "no such board";
    default: return "error " + std::to_string(err);
  }
}

bool permissionDenied(int err, long cntl) {
  return err == kGpibEdvr && (cntl == EACCES || cntl == EPERM);
}

// A failed read or write. No listener on an address that answered at open means the instrument
// was switched off or its cable pulled: the connection is lost, as with an unplugged USB device.
ViStatus ioFailure(int sta, int err, long cntl) {
  if ((sta & kGpibTimo) != 0 || err == kGpibEabo) return VI_ERROR_TMO;
  if (err == kGpibEnol || err == kGpibEneb) return VI_ERROR_CONN_LOST;
  if (err == kGpibEdvr && (cntl == ENODEV || cntl == ENXIO || cntl == ESHUTDOWN || cntl == EPIPE)) {
    return VI_ERROR_CONN_LOST;
  }
  return VI_ERROR_IO;
}

class GpibSession final : public DeviceSession {
 public:
  GpibSession(std::shared_ptr<GpibLibrary> lib, int ud) : lib_(std::move(lib)), ud_(ud) {}
  ~GpibSession() override { lib_->ibonl(ud_, 0); }

  ViStatus write(const unsigned char* buf, ViUInt32 count, ViUInt32* written) override {
    *written = 0;
    if (count == 0) return VI_SUCCESS;
    const int sta = lib_->ibwrt(ud_, buf, static_cast<long>(count));
    *written = transferred(count);
    if ((sta & kGpibErr) != 0) return ioFailure(sta, lib_->error(), lib_->count());
    return *written == count ? VI_SUCCESS : VI_ERROR_IO;
  }

  ViStatus read(unsigned char* buf, ViUInt32 count, ViUInt32* got) override {
    *got = 0;
    if (count == 0) return VI_SUCCESS;
    ViUInt32 total = 0;
    for (;;) {
      const ViUInt32 asked = count - total;
      const int sta = lib_->ibrd(ud_, buf + total, static_cast<long>(asked));
      const ViUInt32 n = transferred(asked);
      total += n;
      *got = total;
      if ((sta & kGpibErr) != 0) return ioFailure(sta, lib_->error(), lib_->count());
      if ((sta & kGpibEnd) != 0) return VI_SUCCESS;
      if (total == count) return VI_SUCCESS_MAX_CNT;
      // Completed short without END and without progress: nothing sensible to wait for.
      if (n == 0) return VI_ERROR_IO;
    }
  }

  ViStatus setTimeout(ViUInt32 ms) override {
    const int sta = lib_->ibtmo(ud_, gpibTimeoutCode(ms));
    return (sta & kGpibErr) != 0 ? VI_ERROR_NSUP_ATTR_STATE : VI_SUCCESS;
  }

 private:
  // The count of the last call, kept within what was asked for (a confused library must not
  // make us report bytes that were never placed in the buffer).
  ViUInt32 transferred(ViUInt32 asked) const {
    const long n = lib_->count();
    return n <= 0 ? 0 : static_cast<ViUInt32>(std::min<long>(n, asked));
  }

  std::shared_ptr<GpibLibrary> lib_;
  int ud_;
};

}  // namespace

int gpibTimeoutCode(ViUInt32 ms) {
  if (ms == VI_TMO_INFINITE) return 0;  // TNONE
  // Upper bounds in microseconds of T10us (1) .. T1000s (17).
  static constexpr std::uint64_t kLimitsUs[] = {
      10,        30,        100,        300,         1000,        3000,
      10000,     30000,     100000,     300000,      1000000,     3000000,
      10000000,  30000000,  100000000,  300000000,   1000000000};
  const std::uint64_t us = static_cast<std::uint64_t>(ms) * 1000;
  for (int i = 0; i < 17; ++i) {
    if (us <= kLimitsUs[i]) return i + 1;
  }
  return 17;
}

std::optional<GpibResourceName> parseGpibResourceName(std::string_view text) {
  const std::string s = toLowerAscii(trimBlanks(text));
  std::vector<std::string_view> fields;
  std::string_view rest = s;
  for (;;) {
    const std::size_t at = rest.find("::");
    fields.push_back(rest.substr(0, at));
    if (at == std::string_view::npos) break;
    rest = rest.substr(at + 2);
  }
  if (fields.size() != 3 && fields.size() != 4) return std::nullopt;
  if (!startsWith(fields[0], "gpib") || fields.back() != "instr") return std::nullopt;
  GpibResourceName name;
  if (fields[0].size() > 4) {
    const auto board = parseInt(fields[0].substr(4));
    if (!board || *board > 15) return std::nullopt;
    name.board = *board;
  }
  const auto pad = parseInt(fields[1]);
  if (!pad || *pad > 30) return std::nullopt;
  name.pad = *pad;
  if (fields.size() == 4) {
    const auto sad = parseInt(fields[2]);
    if (!sad || *sad > 30) return std::nullopt;
    name.sad = *sad;
  }
  return name;
}

GpibProvider::GpibProvider(std::shared_ptr<PosixIo> io, std::string library, int boards)
    : io_(io ? std::move(io) : systemIo()),
      libraryName_(std::move(library)),
      boards_(std::clamp(boards, 0, 16)) {}

GpibProvider::~GpibProvider() = default;

bool GpibProvider::libraryLoaded() { return load(); }

bool GpibProvider::load() {
  if (tried_) return lib_ != nullptr;
  tried_ = true;
  dlerror();
  void* handle = dlopen(libraryName_.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* why = dlerror();
    loadNotes_.push_back(libraryName_ + " could not be loaded (" + (why ? why : "unknown reason") +
                         "): GPIB is not searched; install linux-gpib to use GPIB instruments");
    return false;
  }
  auto lib = std::make_shared<GpibLibrary>();
  lib->handle = handle;
  bind(handle, "ibdev", lib->ibdev);
  bind(handle, "ibwrt", lib->ibwrt);
  bind(handle, "ibrd", lib->ibrd);
  bind(handle, "ibtmo", lib->ibtmo);
  bind(handle, "ibonl", lib->ibonl);
  bind(handle, "ibln", lib->ibln);
  bind(handle, "ThreadIberr", lib->threadIberr);
  bind(handle, "ThreadIbcnt", lib->threadIbcnt);
  bind(handle, "ThreadIbcntl", lib->threadIbcntl);
  lib->iberr = static_cast<volatile int*>(dlsym(handle, "iberr"));
  lib->ibcnt = static_cast<volatile int*>(dlsym(handle, "ibcnt"));
  lib->ibcntl = static_cast<volatile long*>(dlsym(handle, "ibcntl"));
  const bool calls = lib->ibdev && lib->ibwrt && lib->ibrd && lib->ibtmo && lib->ibonl && lib->ibln;
  const bool results = (lib->threadIberr || lib->iberr) &&
                       (lib->threadIbcntl || lib->ibcntl || lib->threadIbcnt || lib->ibcnt);
  if (!calls || !results) {
    loadNotes_.push_back(libraryName_ + " lacks functions of linux-gpib: GPIB is not searched");
    return false;  // lib's destructor unloads it
  }
  lib_ = std::move(lib);
  return true;
}

std::vector<std::string> GpibProvider::listResources() {
  listingNotes_.clear();
  std::vector<std::string> out;
  if (!load()) return out;

  int boardsSeen = 0;
  for (int board = 0; board < boards_; ++board) {
    const std::string node = "/dev/gpib" + std::to_string(board);
    if (io_->access(node, F_OK) != 0) continue;  // not configured
    ++boardsSeen;
    const int a = io_->access(node, R_OK | W_OK);
    if (a == -EACCES || a == -EPERM) {
      listingNotes_.push_back(node + " cannot be opened: permission denied; " + kGroupAdvice);
      continue;
    }
    int listeners = 0;
    for (int pad = 1; pad <= 30; ++pad) {
      short found = 0;
      const int sta = lib_->ibln(board, pad, 0, &found);
      if ((sta & kGpibErr) != 0) {
        const int err = lib_->error();
        const long cntl = lib_->count();
        std::string line = "board " + std::to_string(board) + " cannot be searched: " +
                           errorText(err, cntl);
        if (permissionDenied(err, cntl) || err == kGpibEneb) {
          line += "; " + std::string(kGroupAdvice);
        }
        listingNotes_.push_back(line);
        break;
      }
      if (found != 0) {
        const std::string r =
            "GPIB" + std::to_string(board) + "::" + std::to_string(pad) + "::INSTR";
        listingNotes_.push_back(r + " has a listener");
        out.push_back(r);
        ++listeners;
      }
    }
    if (listeners == 0) {
      listingNotes_.push_back("board " + std::to_string(board) +
                              ": no listener at addresses 1..30 (instruments on, cables fitted?)");
    }
  }
  if (boardsSeen == 0) {
    listingNotes_.push_back("no GPIB board (/dev/gpib0 missing): " + std::string(kGroupAdvice));
  }
  return out;
}

ViStatus GpibProvider::open(const std::string& resource, std::unique_ptr<DeviceSession>* session) {
  if (session != nullptr) session->reset();
  if (toLowerAscii(trimBlanks(resource).substr(0, 4)) != "gpib") return VI_ERROR_RSRC_NFOUND;
  const auto name = parseGpibResourceName(resource);
  if (!name) return VI_ERROR_INV_RSRC_NAME;
  if (session == nullptr) return VI_ERROR_SYSTEM_ERROR;
  if (!load()) return VI_ERROR_LIBRARY_NFOUND;

  const std::string node = "/dev/gpib" + std::to_string(name->board);
  if (io_->access(node, F_OK) != 0) return VI_ERROR_RSRC_NFOUND;
  const int a = io_->access(node, R_OK | W_OK);
  auto denied = [&] {
    const std::string line = node + " cannot be opened: permission denied; " + kGroupAdvice;
    if (std::find(openNotes_.begin(), openNotes_.end(), line) == openNotes_.end()) {
      openNotes_.push_back(line);
    }
    return VI_ERROR_SYSTEM_ERROR;
  };
  if (a == -EACCES || a == -EPERM) return denied();

  // ibdev does not look at the bus; a name without an instrument behind it is not found.
  short found = 0;
  const int sta = lib_->ibln(name->board, name->pad, sadCode(name->sad), &found);
  if ((sta & kGpibErr) != 0) {
    const int err = lib_->error();
    if (permissionDenied(err, lib_->count())) return denied();
    return err == kGpibEneb ? VI_ERROR_RSRC_NFOUND : VI_ERROR_IO;
  }
  if (found == 0) return VI_ERROR_RSRC_NFOUND;

  const int ud = lib_->ibdev(name->board, name->pad, sadCode(name->sad), gpibTimeoutCode(2000),
                             1 /* EOI on the last byte */, 0 /* no end-of-string byte */);
  if (ud < 0) {
    const int err = lib_->error();
    if (permissionDenied(err, lib_->count())) return denied();
    return err == kGpibEneb ? VI_ERROR_RSRC_NFOUND : VI_ERROR_SYSTEM_ERROR;
  }
  *session = std::make_unique<GpibSession>(lib_, ud);
  return VI_SUCCESS;
}

std::vector<std::string> GpibProvider::notes() {
  // Loading is cheap and says whether GPIB can work at all; the bus is searched only on listing.
  load();
  std::vector<std::string> out = loadNotes_;
  out.insert(out.end(), listingNotes_.begin(), listingNotes_.end());
  for (const std::string& n : openNotes_) {
    if (std::find(out.begin(), out.end(), n) == out.end()) out.push_back(n);
  }
  return out;
}

}  // namespace kalivor::visa
