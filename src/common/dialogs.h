// SPDX-License-Identifier: MIT
#pragma once
// File and colour dialog seam. Windows use QFileDialog/QColorDialog; tests script the answers.
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "common/color.h"

namespace kalivor {

struct FileDialogRequest {
  std::string presetName;     // file name shown at first
  std::string filter;         // e.g. "ini|*.ini"
  std::string defaultSuffix;  // e.g. "csv"
  bool confirmOverwrite = false;
};

class Dialogs {
 public:
  virtual ~Dialogs() = default;
  // std::nullopt means the user cancelled.
  virtual std::optional<std::string> saveFileName(const FileDialogRequest& request) = 0;
  virtual std::optional<std::string> openFileName(const FileDialogRequest& request) = 0;
  virtual std::optional<Rgb> chooseColor(Rgb initial) = 0;
};

class ScriptedDialogs final : public Dialogs {
 public:
  std::optional<std::string> saveFileName(const FileDialogRequest& request) override {
    requests.push_back(request);
    return next(fileNames);
  }
  std::optional<std::string> openFileName(const FileDialogRequest& request) override {
    requests.push_back(request);
    return next(fileNames);
  }
  std::optional<Rgb> chooseColor(Rgb initial) override {
    colorRequests.push_back(initial);
    return next(colors);
  }

  std::deque<std::optional<std::string>> fileNames;  // empty script = cancelled
  std::deque<std::optional<Rgb>> colors;
  std::vector<FileDialogRequest> requests;
  std::vector<Rgb> colorRequests;

 private:
  template <typename T>
  static std::optional<T> next(std::deque<std::optional<T>>& q) {
    if (q.empty()) return std::nullopt;
    auto v = q.front();
    q.pop_front();
    return v;
  }
};

}  // namespace kalivor
