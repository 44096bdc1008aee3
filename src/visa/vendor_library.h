// SPDX-License-Identifier: MIT
#pragma once
// A vendor VISA library (NI-VISA, R&S VISA, Keysight IO Libraries, ...) loaded at run time with
// dlopen, so the program builds and runs without one. All eight functions must be present.
#include <memory>
#include <string>
#include <vector>

#include "visa/visa_api.h"

namespace kalivor::visa {

class VendorLibrary final : public VisaApi {
 public:
  struct LoadResult {
    std::unique_ptr<VendorLibrary> library;  // null on failure
    std::string error;                       // why it failed, naming the library
  };
  struct SearchResult {
    std::unique_ptr<VendorLibrary> library;  // the first candidate that loaded, or null
    std::vector<std::string> attempts;       // one line per candidate tried: the failure or "loaded"
  };

  // Loads one library by name (searched on the library path) or path.
  static LoadResult load(const std::string& path);
  // The usual names and places of vendor libraries on Linux, in the order they are tried.
  static const std::vector<std::string>& searchPaths();
  // Tries each candidate in turn and keeps the first that loads with all eight functions.
  static SearchResult search(const std::vector<std::string>& candidates = searchPaths());

  ~VendorLibrary() override;
  VendorLibrary(const VendorLibrary&) = delete;
  VendorLibrary& operator=(const VendorLibrary&) = delete;

  // "VISA library /usr/lib/librsvisa.so"
  std::string description() const override;
  // The name as asked for, and the file the loader actually used (where it can tell).
  const std::string& path() const { return path_; }
  const std::string& file() const { return file_; }

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

  // The C signatures of the published interface (ViAttrState is 64-bit on this platform).
  using OpenDefaultRMFn = ViStatus (*)(ViSession*);
  using FindRsrcFn = ViStatus (*)(ViSession, const char*, ViFindList*, ViUInt32*, char*);
  using FindNextFn = ViStatus (*)(ViFindList, char*);
  using OpenFn = ViStatus (*)(ViSession, const char*, ViAccessMode, ViUInt32, ViSession*);
  using SetAttributeFn = ViStatus (*)(ViObject, ViAttr, ViAttrState);
  using WriteFn = ViStatus (*)(ViSession, const unsigned char*, ViUInt32, ViUInt32*);
  using ReadFn = ViStatus (*)(ViSession, unsigned char*, ViUInt32, ViUInt32*);
  using CloseFn = ViStatus (*)(ViObject);

 private:
  VendorLibrary() = default;

  std::string path_;
  std::string file_;
  OpenDefaultRMFn openDefaultRM_ = nullptr;
  FindRsrcFn findRsrc_ = nullptr;
  FindNextFn findNext_ = nullptr;
  OpenFn open_ = nullptr;
  SetAttributeFn setAttribute_ = nullptr;
  WriteFn write_ = nullptr;
  ReadFn read_ = nullptr;
  CloseFn close_ = nullptr;
};

}  // namespace kalivor::visa
