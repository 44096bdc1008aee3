// SPDX-License-Identifier: MIT
#include "visa/resource_manager.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <limits>
#include <utility>

#include "common/text.h"
#include "visa/find_expression.h"

namespace kalivor::visa {

namespace {

// Shared by every resource manager of the process, so handles are unique across all of them.
std::atomic<ViObject> nextHandle{1};

ViObject newHandle() {
  ViObject h = 0;
  do {
    h = nextHandle.fetch_add(1, std::memory_order_relaxed);
  } while (h == 0);  // only after 4 billion handles
  return h;
}

// At most VI_FIND_BUFLEN - 1 characters and the NUL.
void copyDescriptor(const std::string& resource, char* desc) {
  if (desc == nullptr) return;
  const std::size_t n = std::min<std::size_t>(resource.size(), VI_FIND_BUFLEN - 1);
  std::memcpy(desc, resource.data(), n);
  desc[n] = '\0';
}

}  // namespace

ResourceManager::ResourceManager(std::vector<std::unique_ptr<DeviceProvider>> providers)
    : providers_(std::move(providers)) {
  std::erase(providers_, nullptr);
}

// Sessions go before the providers that made them.
ResourceManager::~ResourceManager() {
  std::lock_guard lock(mutex_);
  objects_.clear();
}

std::string ResourceManager::description() const {
  std::string names;
  for (const auto& p : providers_) {
    if (!names.empty()) names += ", ";
    names += p->name();
  }
  return "built-in resource manager (" + (names.empty() ? std::string("no backends") : names) + ")";
}

std::vector<std::string> ResourceManager::notes() const {
  std::vector<std::string> out;
  for (const auto& p : providers_) {
    for (const std::string& line : p->notes()) out.push_back(p->name() + ": " + line);
  }
  return out;
}

ResourceManager::Object* ResourceManager::find(ViObject handle, Type type) {
  const auto it = objects_.find(handle);
  if (it == objects_.end() || it->second.type != type) return nullptr;
  return &it->second;
}

std::shared_ptr<DeviceSession> ResourceManager::sessionOf(ViSession handle) {
  std::lock_guard lock(mutex_);
  Object* o = find(handle, Type::Session);
  return o ? o->session : nullptr;
}

ViObject ResourceManager::add(Object object) {
  const ViObject h = newHandle();
  if (object.type == Type::Manager) object.manager = h;
  objects_.emplace(h, std::move(object));
  return h;
}

void ResourceManager::refresh() {
  known_.clear();
  for (std::size_t i = 0; i < providers_.size(); ++i) {
    for (std::string& r : providers_[i]->listResources()) {
      if (lookup(r) == nullptr) known_.push_back({std::move(r), i});
    }
  }
}

const ResourceManager::Known* ResourceManager::lookup(const std::string& name) const {
  for (const Known& k : known_) {
    if (equalsIgnoreCase(k.resource, name)) return &k;
  }
  return nullptr;
}

ViStatus ResourceManager::viOpenDefaultRM(ViSession* rm) {
  std::lock_guard lock(mutex_);
  if (rm == nullptr) return VI_ERROR_USER_BUF;
  *rm = add(Object{Type::Manager});
  return VI_SUCCESS;
}

ViStatus ResourceManager::viFindRsrc(ViSession rm, const char* expr, ViFindList* list,
                                     ViUInt32* count, char* desc) {
  std::lock_guard lock(mutex_);
  if (list != nullptr) *list = VI_NULL;
  if (count != nullptr) *count = 0;
  copyDescriptor("", desc);
  if (find(rm, Type::Manager) == nullptr) return VI_ERROR_INV_OBJECT;
  if (expr == nullptr) return VI_ERROR_INV_EXPR;
  const auto pattern = FindExpression::compile(expr);
  if (!pattern) return VI_ERROR_INV_EXPR;

  refresh();
  std::vector<std::string> found;
  for (const Known& k : known_) {
    if (pattern->matches(k.resource)) found.push_back(k.resource);
  }
  if (found.empty()) return VI_ERROR_RSRC_NFOUND;

  copyDescriptor(found.front(), desc);
  if (count != nullptr) {
    *count = static_cast<ViUInt32>(std::min<std::size_t>(found.size(),
                                                         std::numeric_limits<ViUInt32>::max()));
  }
  // Without a place for the handle there is no list to keep (and none to leak).
  if (list != nullptr) {
    Object o{Type::FindList, rm};
    o.found = std::move(found);
    o.next = 1;
    *list = add(std::move(o));
  }
  return VI_SUCCESS;
}

ViStatus ResourceManager::viFindNext(ViFindList list, char* desc) {
  std::lock_guard lock(mutex_);
  Object* o = find(list, Type::FindList);
  if (o == nullptr) {
    copyDescriptor("", desc);
    return VI_ERROR_INV_OBJECT;
  }
  if (o->next >= o->found.size()) {
    copyDescriptor("", desc);
    return VI_ERROR_RSRC_NFOUND;
  }
  copyDescriptor(o->found[o->next++], desc);
  return VI_SUCCESS;
}

ViStatus ResourceManager::viOpen(ViSession rm, const char* name, ViAccessMode mode,
                                 ViUInt32 openTimeoutMs, ViSession* session) {
  std::lock_guard lock(mutex_);
  if (session != nullptr) *session = VI_NULL;
  if (find(rm, Type::Manager) == nullptr) return VI_ERROR_INV_OBJECT;
  if (session == nullptr) return VI_ERROR_USER_BUF;
  if (name == nullptr || *name == '\0') return VI_ERROR_INV_RSRC_NAME;
  const std::string wanted(name);

  std::unique_ptr<DeviceSession> device;
  ViStatus status = VI_ERROR_RSRC_NFOUND;
  std::string resource = wanted;
  const Known* known = lookup(wanted);
  if (known == nullptr) {
    refresh();
    known = lookup(wanted);
  }
  if (known != nullptr) {
    resource = known->resource;
    status = providers_[known->provider]->open(resource, &device);
  } else {
    // A name not in any listing may still be one a provider understands in another spelling
    // (usbtmc takes vendor and product ids in decimal too).
    for (const auto& p : providers_) {
      status = p->open(wanted, &device);
      if (status != VI_ERROR_RSRC_NFOUND && status != VI_ERROR_INV_RSRC_NAME) break;
    }
  }
  if (!succeeded(status)) return status;
  if (!device) return VI_ERROR_SYSTEM_ERROR;

  // Backends have their own defaults (usbtmc 5 s); sessions start at the VISA default.
  device->setTimeout(kDefaultTimeoutMs);
  Object o{Type::Session, rm};
  o.resource = std::move(resource);
  o.session = std::move(device);
  *session = add(std::move(o));
  return status;
}

ViStatus ResourceManager::viSetAttribute(ViObject object, ViAttr attribute, ViAttrState value) {
  std::lock_guard lock(mutex_);
  const auto it = objects_.find(object);
  if (it == objects_.end()) return VI_ERROR_INV_OBJECT;
  if (it->second.type != Type::Session || attribute != VI_ATTR_TMO_VALUE) return VI_ERROR_NSUP_ATTR;
  if (value > std::numeric_limits<ViUInt32>::max()) return VI_ERROR_NSUP_ATTR_STATE;
  return it->second.session->setTimeout(static_cast<ViUInt32>(value));
}

ViStatus ResourceManager::viWrite(ViSession session, const unsigned char* buf, ViUInt32 count,
                                  ViUInt32* written) {
  ViUInt32 ignored = 0;
  ViUInt32* out = written != nullptr ? written : &ignored;
  *out = 0;
  const auto device = sessionOf(session);
  if (!device) return VI_ERROR_INV_OBJECT;
  if (buf == nullptr && count > 0) return VI_ERROR_USER_BUF;
  const ViStatus status = device->write(buf, count, out);
  *out = std::min(*out, count);
  return status;
}

ViStatus ResourceManager::viRead(ViSession session, unsigned char* buf, ViUInt32 count,
                                 ViUInt32* got) {
  ViUInt32 ignored = 0;
  ViUInt32* out = got != nullptr ? got : &ignored;
  *out = 0;
  const auto device = sessionOf(session);
  if (!device) return VI_ERROR_INV_OBJECT;
  if (buf == nullptr && count > 0) return VI_ERROR_USER_BUF;
  const ViStatus status = device->read(buf, count, out);
  *out = std::min(*out, count);
  return status;
}

ViStatus ResourceManager::viClose(ViObject object) {
  if (object == VI_NULL) return VI_WARN_NULL_OBJECT;
  std::lock_guard lock(mutex_);
  const auto it = objects_.find(object);
  if (it == objects_.end()) return VI_ERROR_INV_OBJECT;
  if (it->second.type == Type::Manager) {
    std::erase_if(objects_, [object](const auto& entry) { return entry.second.manager == object; });
  } else {
    objects_.erase(it);
  }
  return VI_SUCCESS;
}

}  // namespace kalivor::visa
