// SPDX-License-Identifier: MIT
#include "visa/tracing_visa.h"

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <utility>

#include "common/text.h"
#include "visa/resource_manager.h"

namespace kalivor::visa {

namespace {

std::string hex32(std::uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", v);
  return buf;
}

// A search expression longer than this is traced cut short.
constexpr std::size_t kMaxTracedExpression = 4096;

std::string decimal(std::uint64_t v) { return std::to_string(v); }

std::string cString(const char* s, std::size_t max = VI_FIND_BUFLEN) {
  if (s == nullptr) return "(null)";
  return TracingVisa::quoteBytes(std::string_view(s, strnlen(s, max)));
}

}  // namespace

TracingVisa::OpenResult TracingVisa::open(std::unique_ptr<VisaApi> inner, Clock& clock,
                                          const std::string& traceFile) {
  OpenResult result;
  if (!inner) {
    result.error = "No VISA backend to trace";
    return result;
  }
  std::FILE* f = std::fopen(traceFile.c_str(), "a");
  if (f == nullptr) {
    result.error = "Cannot open trace file " + traceFile + ": " + std::strerror(errno);
    return result;
  }
  result.api.reset(new TracingVisa(std::move(inner), clock, f, traceFile));
  return result;
}

TracingVisa::TracingVisa(std::unique_ptr<VisaApi> inner, Clock& clock, std::FILE* file,
                         std::string path)
    : inner_(std::move(inner)), clock_(clock), file_(file), path_(std::move(path)) {
  line("trace", "started over " + inner_->description());
}

TracingVisa::~TracingVisa() {
  line("trace", "ended");
  std::fclose(file_);
}

std::string TracingVisa::description() const {
  return inner_->description() + ", traced to " + path_;
}

std::string TracingVisa::quoteBytes(std::string_view bytes) {
  std::string out = "\"";
  for (const char c : escapeControl(bytes)) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x80) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", u);
      out += buf;
    } else if (c == '"') {
      out += "\\\"";
    } else {
      out.push_back(c);
    }
  }
  out += '"';
  return out;
}

std::string TracingVisa::statusText(ViStatus status) {
  static const std::pair<ViStatus, const char*> known[] = {
      {VI_SUCCESS, "VI_SUCCESS"},
      {VI_SUCCESS_TERM_CHAR, "VI_SUCCESS_TERM_CHAR"},
      {VI_SUCCESS_MAX_CNT, "VI_SUCCESS_MAX_CNT"},
      {VI_WARN_NULL_OBJECT, "VI_WARN_NULL_OBJECT"},
      {VI_ERROR_SYSTEM_ERROR, "VI_ERROR_SYSTEM_ERROR"},
      {VI_ERROR_INV_OBJECT, "VI_ERROR_INV_OBJECT"},
      {VI_ERROR_INV_EXPR, "VI_ERROR_INV_EXPR"},
      {VI_ERROR_RSRC_NFOUND, "VI_ERROR_RSRC_NFOUND"},
      {VI_ERROR_INV_RSRC_NAME, "VI_ERROR_INV_RSRC_NAME"},
      {VI_ERROR_TMO, "VI_ERROR_TMO"},
      {VI_ERROR_NSUP_ATTR, "VI_ERROR_NSUP_ATTR"},
      {VI_ERROR_NSUP_ATTR_STATE, "VI_ERROR_NSUP_ATTR_STATE"},
      {VI_ERROR_ALLOC, "VI_ERROR_ALLOC"},
      {VI_ERROR_IO, "VI_ERROR_IO"},
      {VI_ERROR_USER_BUF, "VI_ERROR_USER_BUF"},
      {VI_ERROR_RSRC_BUSY, "VI_ERROR_RSRC_BUSY"},
      {VI_ERROR_LIBRARY_NFOUND, "VI_ERROR_LIBRARY_NFOUND"},
      {VI_ERROR_CONN_LOST, "VI_ERROR_CONN_LOST"},
  };
  std::string text = hex32(static_cast<std::uint32_t>(status));
  for (const auto& [value, name] : known) {
    if (value == status) return text + " " + name;
  }
  return text;
}

std::string TracingVisa::nameOf(ViObject object) const {
  std::lock_guard lock(mutex_);
  const auto it = names_.find(object);
  if (it != names_.end()) return it->second.text;
  return "object " + hex32(object);
}

void TracingVisa::line(const std::string& who, const std::string& what) {
  const LocalMs now = clock_.now();
  const LocalDateTime t = fromLocalMs(now);
  char ms[8];
  std::snprintf(ms, sizeof ms, ".%03d", t.millisecond);
  const std::string text = formatDateTime(now) + ms + " " + who + " " + what + "\n";
  std::lock_guard lock(mutex_);
  // One write and a flush per line: what was traced survives a crash of the program.
  std::fwrite(text.data(), 1, text.size(), file_);
  std::fflush(file_);
}

ViStatus TracingVisa::viOpenDefaultRM(ViSession* rm) {
  const ViStatus s = inner_->viOpenDefaultRM(rm);
  std::string who = "rm";
  if (succeeded(s) && rm != nullptr) {
    who += " " + hex32(*rm);
    std::lock_guard lock(mutex_);
    names_[*rm] = {who, *rm};
  }
  line(who, "open-default-rm status " + statusText(s));
  return s;
}

ViStatus TracingVisa::viFindRsrc(ViSession rm, const char* expr, ViFindList* list,
                                 ViUInt32* count, char* desc) {
  const ViStatus s = inner_->viFindRsrc(rm, expr, list, count, desc);
  std::string what = "find " + cString(expr, kMaxTracedExpression);
  if (succeeded(s)) {
    if (count != nullptr) what += " count " + decimal(*count);
    if (desc != nullptr) what += " first " + cString(desc);
    if (list != nullptr && *list != VI_NULL) {
      std::lock_guard lock(mutex_);
      names_[*list] = {"find-list " + hex32(*list), rm};
      what += " list " + hex32(*list);
    }
  }
  line(nameOf(rm), what + " status " + statusText(s));
  return s;
}

ViStatus TracingVisa::viFindNext(ViFindList list, char* desc) {
  const ViStatus s = inner_->viFindNext(list, desc);
  std::string what = "find-next";
  if (succeeded(s) && desc != nullptr) what += " " + cString(desc);
  line(nameOf(list), what + " status " + statusText(s));
  return s;
}

ViStatus TracingVisa::viOpen(ViSession rm, const char* name, ViAccessMode mode,
                             ViUInt32 openTimeoutMs, ViSession* session) {
  const ViStatus s = inner_->viOpen(rm, name, mode, openTimeoutMs, session);
  const std::string resource =
      name != nullptr ? std::string(name, strnlen(name, VI_FIND_BUFLEN)) : std::string("(null)");
  std::string what = "open";
  if (succeeded(s) && session != nullptr) {
    std::lock_guard lock(mutex_);
    names_[*session] = {escapeControl(resource), rm};
    what += " session " + hex32(*session);
  }
  line(escapeControl(resource), what + " status " + statusText(s));
  return s;
}

ViStatus TracingVisa::viSetAttribute(ViObject object, ViAttr attribute, ViAttrState value) {
  const ViStatus s = inner_->viSetAttribute(object, attribute, value);
  const std::string attr = attribute == VI_ATTR_TMO_VALUE ? "VI_ATTR_TMO_VALUE" : hex32(attribute);
  line(nameOf(object), "set " + attr + " " + decimal(value) + " status " + statusText(s));
  return s;
}

ViStatus TracingVisa::viWrite(ViSession session, const unsigned char* buf, ViUInt32 count,
                              ViUInt32* written) {
  ViUInt32 local = 0;
  ViUInt32* out = written != nullptr ? written : &local;
  const ViStatus s = inner_->viWrite(session, buf, count, out);
  std::string what = "write " + decimal(count);
  if (buf != nullptr) what += " " + quoteBytes({reinterpret_cast<const char*>(buf), count});
  if (*out != count) what += " sent " + decimal(*out);
  line(nameOf(session), what + " status " + statusText(s));
  return s;
}

ViStatus TracingVisa::viRead(ViSession session, unsigned char* buf, ViUInt32 count, ViUInt32* got) {
  ViUInt32 local = 0;
  ViUInt32* out = got != nullptr ? got : &local;
  const LocalMs start = clock_.now();
  const ViStatus s = inner_->viRead(session, buf, count, out);
  const LocalMs took = clock_.now() - start;
  const ViUInt32 n = std::min(*out, count);
  std::string what = "read " + decimal(n);
  if (buf != nullptr) what += " " + quoteBytes({reinterpret_cast<const char*>(buf), n});
  what += " in " + decimal(static_cast<std::uint64_t>(took < 0 ? 0 : took)) + " ms";
  line(nameOf(session), what + " status " + statusText(s));
  return s;
}

void TracingVisa::note(const std::string& who, const std::string& what) { line(who, what); }

ViStatus TracingVisa::viClose(ViObject object) {
  const std::string who = nameOf(object);
  const ViStatus s = inner_->viClose(object);
  if (succeeded(s)) {
    std::lock_guard lock(mutex_);
    const auto it = names_.find(object);
    if (it != names_.end() && it->second.manager == object) {
      std::erase_if(names_, [object](const auto& e) { return e.second.manager == object; });
    } else {
      names_.erase(object);
    }
  }
  line(who, "close status " + statusText(s));
  return s;
}

}  // namespace kalivor::visa
