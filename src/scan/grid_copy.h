// SPDX-License-Identifier: MIT
#pragma once
// One-cell copy and paste in the scan settings grid: where the copied cell came from, its text,
// the rectangle in which copying and pasting are allowed, and the check that keeps 4-wire
// functions out of the upper half of the channels. Touches no window.
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace kalivor {

class Messages;

// Shown when a copy or paste in the grid goes wrong.
inline constexpr const char* kGridCopyFailedText = "複製時發生了錯誤!";

// Properties are read with name() and written with name(newValue); no write validates.
class MsFlexCopy {
 public:
  std::int16_t dev_list() const { return dev_list_; }
  void dev_list(std::int16_t newValue) { dev_list_ = newValue; }
  bool enableCopy() const { return enableCopy_; }
  void enableCopy(bool newValue) { enableCopy_ = newValue; }
  std::int16_t rowPosUplmt() const { return rowPosUplmt_; }
  void rowPosUplmt(std::int16_t newValue) { rowPosUplmt_ = newValue; }
  std::int16_t rowPosLwlmt() const { return rowPosLwlmt_; }
  void rowPosLwlmt(std::int16_t newValue) { rowPosLwlmt_ = newValue; }
  std::int16_t colPosUplmt() const { return colPosUplmt_; }
  void colPosUplmt(std::int16_t newValue) { colPosUplmt_ = newValue; }
  std::int16_t colPosLwlmt() const { return colPosLwlmt_; }
  void colPosLwlmt(std::int16_t newValue) { colPosLwlmt_ = newValue; }
  std::int16_t row() const { return row_; }
  void row(std::int16_t newValue) { row_ = newValue; }
  std::int16_t col() const { return col_; }
  void col(std::int16_t newValue) { col_ = newValue; }
  const std::string& value() const { return value_; }
  void value(std::string newValue) { value_ = std::move(newValue); }

  // Diagnostic box "row = 3 col = 3 value = DCV"; returns the text it showed.
  std::string PrintMsgbo(Messages& messages) const;
  std::string printText() const;

  // True inside the copy rectangle (all bounds inclusive).
  bool IsSelectCpyRange(std::int16_t row_select, std::int16_t col_select) const;

  // May funTxt be pasted into grid row row_index? Never into a row whose function list is
  // disabled (bEnable false); functions containing "4W" only up to half of rowPosUplmt.
  bool chck4Wsafe(std::int16_t row_index, std::string_view funTxt, bool bEnable) const;

 private:
  std::int16_t dev_list_ = 0;
  bool enableCopy_ = false;
  std::int16_t rowPosUplmt_ = 0;
  std::int16_t rowPosLwlmt_ = 0;
  std::int16_t colPosUplmt_ = 0;
  std::int16_t colPosLwlmt_ = 0;
  std::int16_t row_ = 0;
  std::int16_t col_ = 0;
  std::string value_ = "0";
};

}  // namespace kalivor
