// SPDX-License-Identifier: MIT
#pragma once
// Types and fixed texts shared by the record store: the outcome of an operation, the row layout of
// table DATA and the messages the store hands to the windows.
#include <array>
#include <cstdint>
#include <string>

namespace kalivor::store {

inline constexpr int kRecordChannels = 20;
inline constexpr int kRecordColumns = 2 + kRecordChannels;  // NUM, Time, CH1..CH20
inline constexpr std::int64_t kPageSize = 1000;             // scans per browser page

// One row of table DATA as texts: NUM, Time, CH1..CH20.
using RecordRow = std::array<std::string, kRecordColumns>;

// Outcome of a store operation: empty error means success, otherwise a message naming the record
// and the cause, ready to be shown to the user.
struct StoreStatus {
  std::string error;
  bool ok() const { return error.empty(); }
  static StoreStatus success() { return {}; }
  static StoreStatus failure(std::string message) { return StoreStatus{std::move(message)}; }
};

inline constexpr const char* kRecordInUseMessage =
    "檔案執行中，請停止執行後，在進行刪除動作。";
inline constexpr const char* kDeleteFailedMessage =
    "刪除檔案時，發生了錯誤，請重新執行本程式，再進行刪除.";
inline constexpr const char* kSelectOtherRecordMessage = "Please select other Record.";
inline constexpr const char* kSelectRecordMessage = "Please select a Record.";
inline constexpr const char* kRecordNullMessage = "The Record is NULL";
inline constexpr const char* kDataSavedMessage = "Data saved !";

}  // namespace kalivor::store
