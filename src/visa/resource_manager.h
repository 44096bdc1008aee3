// SPDX-License-Identifier: MIT
#pragma once
// Our own VISA resource manager: the eight operations over device providers (simulated
// instruments, Linux usbtmc, linux-gpib). It owns the handles, the find lists and the find
// expressions; a provider only lists resources and opens sessions.
//
// Handles are 32-bit, never 0 and never handed out twice in one process run (a stale handle kept
// by a caller gives VI_ERROR_INV_OBJECT instead of reaching someone else's session). Calls on
// different sessions may come from different threads (one per meter during a run): the tables
// are locked, and a session stays alive while a read or write on it is under way even when it
// is closed meanwhile.
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "visa/device_provider.h"
#include "visa/visa_api.h"

namespace kalivor::visa {

// viClose(VI_NULL): nothing to close, reported as a warning as VISA does.
inline constexpr ViStatus VI_WARN_NULL_OBJECT = 0x3FFF0082;
// A null pointer where the operation needs a buffer.
inline constexpr ViStatus VI_ERROR_USER_BUF = static_cast<ViStatus>(0xBFFF0071u);

class ResourceManager final : public VisaApi {
 public:
  // The session time-out until viSetAttribute(VI_ATTR_TMO_VALUE) says otherwise.
  static constexpr ViUInt32 kDefaultTimeoutMs = 2000;

  explicit ResourceManager(std::vector<std::unique_ptr<DeviceProvider>> providers = {});
  ~ResourceManager() override;
  ResourceManager(const ResourceManager&) = delete;
  ResourceManager& operator=(const ResourceManager&) = delete;

  // "built-in resource manager (simulated, usbtmc)" or "... (no backends)".
  std::string description() const override;
  // What the providers found or why they found nothing, each line starting with the provider's
  // name ("usbtmc: /dev/usbtmc0 is not readable ...").
  std::vector<std::string> notes() const;
  std::size_t providerCount() const { return providers_.size(); }

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

 private:
  enum class Type { Manager, FindList, Session };
  struct Object {
    Type type = Type::Manager;
    ViSession manager = 0;  // the resource manager it was opened from (itself for a manager)
    std::string resource;
    std::shared_ptr<DeviceSession> session;
    std::vector<std::string> found;
    std::size_t next = 0;
  };
  struct Known {
    std::string resource;
    std::size_t provider;
  };

  Object* find(ViObject handle, Type type);
  ViObject add(Object object);
  // Lists every provider's resources in provider order (first provider wins a duplicate name).
  void refresh();
  const Known* lookup(const std::string& name) const;

  std::vector<std::unique_ptr<DeviceProvider>> providers_;
  std::unordered_map<ViObject, Object> objects_;
  std::vector<Known> known_;
  mutable std::recursive_mutex mutex_;
  // The session of a handle, kept alive by the caller for the duration of one call.
  std::shared_ptr<DeviceSession> sessionOf(ViSession handle);
};

}  // namespace kalivor::visa
