// SPDX-License-Identifier: MIT
#pragma once
// Walking the scans of a record for the export and the statistics: a read-only pass in stored
// order, in one read snapshot, with the scans numbered as renumbering would number them (rows
// with a NULL NUM left out) and an optional range of scans by number or by time.
#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "store/record_meta.h"
#include "store/sqlite_record.h"
#include "store/store_types.h"

namespace kalivor::store {

// One end of a range: none, a scan number, or a time ("yyyy/MM/dd hh:mm:ss" as stored).
struct ScanBound {
  enum class Kind { None, Number, Time };
  Kind kind = Kind::None;
  std::int64_t num = 0;
  std::string time;  // 19 characters, compared with the first 19 of DATA.Time
};

struct ScanSelection {
  ScanBound from;
  ScanBound to;
  bool contains(std::int64_t num, std::string_view time) const;
  // No later scan can be selected (a number bound passed).
  bool endedBefore(std::int64_t num) const;
};

// Reads a bound as the user writes it: a scan number ("250"), or a time "yyyy/MM/dd hh:mm:ss",
// "yyyy-MM-dd hh:mm:ss" or "yyyy-MM-ddThh:mm:ss", or a date alone (the day's first second for
// `from`, its last for `to`). A message naming the text when it is none of these.
StoreStatus parseScanBound(std::string_view text, bool upper, ScanBound& out);
// Both ends at once (an empty text: an open end); `failedAtTo` tells which end was wrong.
StoreStatus parseScanSelection(std::string_view from, std::string_view to, ScanSelection& out,
                               bool* failedAtTo = nullptr);

class ScanCursor {
 public:
  // Opens the record read-only and starts the snapshot; the description (record_meta.h) is read
  // when present and readable, otherwise the scans stand alone.
  StoreStatus open(const std::filesystem::path& recordFile, const ScanSelection& selection);
  // Moves to the next selected scan; false at the end or on an error (see status()).
  bool next();
  StoreStatus status() const { return status_; }

  std::int64_t num() const { return num_; }
  std::string_view time() const { return field(1); }
  // Text of CH1..CH20 (channel 1..20); empty for NULL. Valid until next().
  std::string_view channel(int channel) const { return field(1 + channel); }
  // Columns 1.. as texts (Time, CH1..CH20) into row[1..]; row[0] gets the scan number.
  void copyRow(RecordRow& row) const;

  const RecordMeta& meta() const { return meta_; }
  // The run the current scan belongs to, or null (a record without a description).
  const RunRow* run() const { return run_; }
  const ChannelInfo* channelInfo(int channel) const;

 private:
  std::string_view field(int column) const;

  detail::RecordDb db_;
  detail::Statement rows_;
  ScanSelection selection_;
  RecordMeta meta_;
  const RunRow* run_ = nullptr;
  std::array<const ChannelInfo*, kRecordChannels + 1> channels_{};  // of run_, by channel
  std::int64_t num_ = 0;
  StoreStatus status_;
};

}  // namespace kalivor::store

namespace kalivor::store {

// What `records` tells about a record: its scans (rows with a NUM), the first and last stored
// time, and its description when it has one.
struct RecordSummary {
  std::int64_t scans = 0;
  std::string firstTime, lastTime;
  RecordMeta meta;
};
StoreStatus summarizeRecord(const std::filesystem::path& recordFile, RecordSummary& out);

}  // namespace kalivor::store
