// SPDX-License-Identifier: MIT
#include "visa/vendor_library.h"

#include <dlfcn.h>
#include <link.h>

#include "common/text.h"

namespace kalivor::visa {

namespace {

// dlerror() usually starts with the file name again; the caller's message already has it.
std::string loaderError(const std::string& path) {
  const char* e = dlerror();
  std::string text = e != nullptr ? e : "unknown loader error";
  if (startsWith(text, path + ": ")) text.erase(0, path.size() + 2);
  return text;
}

template <typename Fn>
bool bind(void* handle, const char* name, Fn& fn, std::string& error, const std::string& path) {
  dlerror();
  void* sym = dlsym(handle, name);
  if (sym == nullptr) {
    const char* e = dlerror();
    error = "VISA library " + path + " lacks the function " + name;
    if (e != nullptr) error += std::string(" (") + e + ")";
    return false;
  }
  fn = reinterpret_cast<Fn>(sym);
  return true;
}

}  // namespace

VendorLibrary::LoadResult VendorLibrary::load(const std::string& path) {
  LoadResult result;
  if (path.empty()) {
    result.error = "No VISA library named";
    return result;
  }
  dlerror();
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    result.error = "Cannot load VISA library " + path + ": " + loaderError(path);
    return result;
  }
  std::unique_ptr<VendorLibrary> lib(new VendorLibrary());
  lib->path_ = path;
  link_map* map = nullptr;
  if (dlinfo(handle, RTLD_DI_LINKMAP, &map) == 0 && map != nullptr && map->l_name != nullptr &&
      *map->l_name != '\0') {
    lib->file_ = map->l_name;
  } else {
    lib->file_ = path;
  }
  std::string error;
  const bool ok = bind(handle, "viOpenDefaultRM", lib->openDefaultRM_, error, path) &&
                  bind(handle, "viFindRsrc", lib->findRsrc_, error, path) &&
                  bind(handle, "viFindNext", lib->findNext_, error, path) &&
                  bind(handle, "viOpen", lib->open_, error, path) &&
                  bind(handle, "viSetAttribute", lib->setAttribute_, error, path) &&
                  bind(handle, "viWrite", lib->write_, error, path) &&
                  bind(handle, "viRead", lib->read_, error, path) &&
                  bind(handle, "viClose", lib->close_, error, path);
  if (!ok) {
    dlclose(handle);
    result.error = error;
    return result;
  }
  result.library = std::move(lib);
  return result;
}

const std::vector<std::string>& VendorLibrary::searchPaths() {
  static const std::vector<std::string> paths = {
      "libvisa.so",
      "libvisa.so.0",
      "/usr/lib/x86_64-linux-gnu/libvisa.so",
      "/usr/local/vxipnp/linux/lib64/libvisa.so",
      "/opt/ni-visa/usr/local/vxipnp/linux/lib64/libvisa.so",
      "/usr/lib/librsvisa.so",
      "/opt/keysight/iolibs/libktvisa32.so",
      "/usr/lib/x86_64-linux-gnu/libiovisa.so",
  };
  return paths;
}

VendorLibrary::SearchResult VendorLibrary::search(const std::vector<std::string>& candidates) {
  SearchResult result;
  for (const std::string& path : candidates) {
    LoadResult r = load(path);
    if (r.library) {
      result.attempts.push_back(path + ": loaded");
      result.library = std::move(r.library);
      break;
    }
    result.attempts.push_back(r.error);
  }
  return result;
}

// The library stays mapped until the process ends: vendor libraries start threads and register
// exit handlers that must not outlive their code.
VendorLibrary::~VendorLibrary() = default;

std::string VendorLibrary::description() const {
  if (file_.empty() || file_ == path_) return "VISA library " + path_;
  return "VISA library " + path_ + " (" + file_ + ")";
}

ViStatus VendorLibrary::viOpenDefaultRM(ViSession* rm) { return openDefaultRM_(rm); }

ViStatus VendorLibrary::viFindRsrc(ViSession rm, const char* expr, ViFindList* list,
                                   ViUInt32* count, char* desc) {
  const ViStatus s = findRsrc_(rm, expr, list, count, desc);
  if (desc != nullptr) desc[VI_FIND_BUFLEN - 1] = '\0';  // callers rely on a terminated string
  return s;
}

ViStatus VendorLibrary::viFindNext(ViFindList list, char* desc) {
  const ViStatus s = findNext_(list, desc);
  if (desc != nullptr) desc[VI_FIND_BUFLEN - 1] = '\0';
  return s;
}

ViStatus VendorLibrary::viOpen(ViSession rm, const char* name, ViAccessMode mode,
                               ViUInt32 openTimeoutMs, ViSession* session) {
  return open_(rm, name, mode, openTimeoutMs, session);
}

ViStatus VendorLibrary::viSetAttribute(ViObject object, ViAttr attribute, ViAttrState value) {
  return setAttribute_(object, attribute, value);
}

ViStatus VendorLibrary::viWrite(ViSession session, const unsigned char* buf, ViUInt32 count,
                                ViUInt32* written) {
  return write_(session, buf, count, written);
}

ViStatus VendorLibrary::viRead(ViSession session, unsigned char* buf, ViUInt32 count,
                               ViUInt32* got) {
  return read_(session, buf, count, got);
}

ViStatus VendorLibrary::viClose(ViObject object) { return close_(object); }

}  // namespace kalivor::visa
