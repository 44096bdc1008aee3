// SPDX-License-Identifier: MIT
#include "support/scripted_visa.h"

#include <algorithm>
#include <cstring>

namespace kalivor::testing {

using namespace visa;

ViStatus ScriptedVisa::viOpenDefaultRM(ViSession* rm) {
  if (openRmStatus < 0) {
    calls.push_back({"rm", "", "", 0, openRmStatus});
    return openRmStatus;
  }
  rm_ = nextHandle_++;
  *rm = rm_;
  calls.push_back({"rm", "", "", 0, VI_SUCCESS});
  return VI_SUCCESS;
}

ViStatus ScriptedVisa::viFindRsrc(ViSession rm, const char* expr, ViFindList* list, ViUInt32* count,
                                  char* desc) {
  calls.push_back({"find", "", expr, 0, VI_SUCCESS});
  if (rm != rm_ || rm_ == 0) return VI_ERROR_INV_OBJECT;
  *count = static_cast<ViUInt32>(resources.size());
  if (resources.empty()) return VI_ERROR_RSRC_NFOUND;
  list_ = nextHandle_++;
  *list = list_;
  findPos_ = 1;
  std::strncpy(desc, resources[0].name.c_str(), VI_FIND_BUFLEN - 1);
  desc[VI_FIND_BUFLEN - 1] = '\0';
  return VI_SUCCESS;
}

ViStatus ScriptedVisa::viFindNext(ViFindList list, char* desc) {
  calls.push_back({"findnext", "", "", 0, VI_SUCCESS});
  if (list != list_ || list_ == 0) return VI_ERROR_INV_OBJECT;
  if (findPos_ >= resources.size()) return VI_ERROR_RSRC_NFOUND;
  std::strncpy(desc, resources[findPos_++].name.c_str(), VI_FIND_BUFLEN - 1);
  desc[VI_FIND_BUFLEN - 1] = '\0';
  return VI_SUCCESS;
}

ViStatus ScriptedVisa::viOpen(ViSession rm, const char* name, ViAccessMode, ViUInt32,
                              ViSession* session) {
  for (std::size_t i = 0; i < resources.size(); ++i) {
    if (resources[i].name == name) {
      const ViSession h = nextHandle_++;
      sessions_[h] = Session{i, "", 2000};
      *session = h;
      calls.push_back({"open", name, "", 0, VI_SUCCESS});
      return VI_SUCCESS;
    }
  }
  calls.push_back({"open", name, "", 0, VI_ERROR_RSRC_NFOUND});
  return VI_ERROR_RSRC_NFOUND;
}

ViStatus ScriptedVisa::viSetAttribute(ViObject object, ViAttr attribute, ViAttrState value) {
  auto it = sessions_.find(object);
  if (it == sessions_.end()) return VI_ERROR_INV_OBJECT;
  calls.push_back({"attr", resources[it->second.resource].name, "", static_cast<unsigned>(value),
                   VI_SUCCESS});
  if (attribute == VI_ATTR_TMO_VALUE) {
    it->second.timeout = value;
    timeouts_[resources[it->second.resource].name] = value;
  }
  return VI_SUCCESS;
}

ViStatus ScriptedVisa::viWrite(ViSession session, const unsigned char* buf, ViUInt32 count,
                               ViUInt32* written) {
  auto it = sessions_.find(session);
  const std::string bytes(reinterpret_cast<const char*>(buf), count);
  if (it == sessions_.end()) {
    calls.push_back({"write", "", bytes, count, VI_ERROR_INV_OBJECT});
    *written = 0;
    return VI_ERROR_INV_OBJECT;
  }
  ScriptedResource& r = resources[it->second.resource];
  calls.push_back({"write", r.name, bytes, count, VI_SUCCESS});
  *written = count;
  if (r.silent) return VI_SUCCESS;
  if (r.respond) {
    it->second.pending += r.respond(bytes);
  } else if (auto a = r.answers.find(bytes); a != r.answers.end()) {
    it->second.pending += a->second;
  }
  return VI_SUCCESS;
}

ViStatus ScriptedVisa::viRead(ViSession session, unsigned char* buf, ViUInt32 count, ViUInt32* got) {
  auto it = sessions_.find(session);
  *got = 0;
  if (it == sessions_.end()) {
    calls.push_back({"read", "", "", 0, VI_ERROR_INV_OBJECT});
    return VI_ERROR_INV_OBJECT;
  }
  Session& s = it->second;
  const std::string& name = resources[s.resource].name;
  if (resources[s.resource].beforeRead) resources[s.resource].beforeRead();
  if (s.pending.empty()) {
    clock_.sleep(static_cast<std::uint32_t>(s.timeout));
    calls.push_back({"read", name, "", 0, VI_ERROR_TMO});
    return VI_ERROR_TMO;
  }
  const std::size_t n = std::min<std::size_t>(count, s.pending.size());
  std::memcpy(buf, s.pending.data(), n);
  const std::string bytes = s.pending.substr(0, n);
  s.pending.erase(0, n);
  *got = static_cast<ViUInt32>(n);
  const ViStatus status = s.pending.empty() ? VI_SUCCESS : VI_SUCCESS_MAX_CNT;
  calls.push_back({"read", name, bytes, static_cast<unsigned>(n), status});
  return status;
}

ViStatus ScriptedVisa::viClose(ViObject object) {
  calls.push_back({"close", "", "", object, VI_SUCCESS});
  if (sessions_.erase(object) > 0) return VI_SUCCESS;
  if (object == list_ && list_ != 0) {
    list_ = 0;
    return VI_SUCCESS;
  }
  if (object == rm_ && rm_ != 0) {
    rm_ = 0;
    return VI_SUCCESS;
  }
  return VI_ERROR_INV_OBJECT;
}

std::vector<std::string> ScriptedVisa::writesTo(const std::string& resource) const {
  std::vector<std::string> out;
  for (const auto& c : calls) {
    if (c.op == "write" && c.resource == resource) out.push_back(c.bytes);
  }
  return out;
}

std::vector<VisaCall> ScriptedVisa::callsOf(const std::string& op) const {
  std::vector<VisaCall> out;
  std::copy_if(calls.begin(), calls.end(), std::back_inserter(out),
               [&](const VisaCall& c) { return c.op == op; });
  return out;
}

void ScriptedVisa::queueAnswer(const std::string& resource, const std::string& bytes) {
  for (auto& [h, s] : sessions_) {
    if (resources[s.resource].name == resource) {
      s.pending += bytes;
      return;
    }
  }
}

ViAttrState ScriptedVisa::timeoutOf(const std::string& resource) const {
  auto it = timeouts_.find(resource);
  return it == timeouts_.end() ? 0 : it->second;
}

}  // namespace kalivor::testing
