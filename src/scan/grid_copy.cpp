// SPDX-License-Identifier: MIT
#include "scan/grid_copy.h"

#include "common/messages.h"
#include "common/numbers.h"

namespace kalivor {

std::string MsFlexCopy::printText() const {
  return "row = " + intToText(row_) + " col = " + intToText(col_) + " value = " + value_;
}

std::string MsFlexCopy::PrintMsgbo(Messages& messages) const {
  std::string text = printText();
  messages.inform(text);
  return text;
}

bool MsFlexCopy::IsSelectCpyRange(std::int16_t row_select, std::int16_t col_select) const {
  return rowPosLwlmt_ <= row_select && row_select <= rowPosUplmt_ && colPosLwlmt_ <= col_select &&
         col_select <= colPosUplmt_;
}

bool MsFlexCopy::chck4Wsafe(std::int16_t row_index, std::string_view funTxt, bool bEnable) const {
  if (!bEnable) return false;
  const double half = rowPosUplmt_ / 2.0;
  return row_index <= half || funTxt.find("4W") == std::string_view::npos;
}

}  // namespace kalivor
