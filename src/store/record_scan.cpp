// SPDX-License-Identifier: MIT
#include "store/record_scan.h"

#include <algorithm>
#include <cctype>

#include "common/numbers.h"
#include "common/text.h"

namespace kalivor::store {
namespace {

constexpr std::size_t kStampLength = 19;  // "yyyy/MM/dd hh:mm:ss"

bool digitsAt(std::string_view s, std::size_t at, std::size_t count) {
  for (std::size_t i = at; i < at + count; ++i) {
    if (i >= s.size() || std::isdigit(static_cast<unsigned char>(s[i])) == 0) return false;
  }
  return true;
}

// "yyyy/MM/dd[ hh:mm:ss]" with "-" or "/" in the date and " " or "T" before the time, into the
// stored stamp form; false when the text has another shape.
bool normaliseTime(std::string_view t, bool upper, std::string& out) {
  if (t.size() != 10 && t.size() != kStampLength) return false;
  if (!digitsAt(t, 0, 4) || !digitsAt(t, 5, 2) || !digitsAt(t, 8, 2)) return false;
  if (t[4] != t[7] || (t[4] != '/' && t[4] != '-')) return false;
  out = std::string(t.substr(0, 4)) + "/" + std::string(t.substr(5, 2)) + "/" +
        std::string(t.substr(8, 2));
  if (t.size() == 10) {
    out += upper ? " 23:59:59" : " 00:00:00";
    return true;
  }
  if ((t[10] != ' ' && t[10] != 'T') || !digitsAt(t, 11, 2) || t[13] != ':' ||
      !digitsAt(t, 14, 2) || t[16] != ':' || !digitsAt(t, 17, 2)) {
    return false;
  }
  out += " " + std::string(t.substr(11));
  return true;
}

}  // namespace

StoreStatus parseScanBound(std::string_view text, bool upper, ScanBound& out) {
  out = ScanBound{};
  const std::string t = trimBlanks(text);
  if (!t.empty() && std::all_of(t.begin(), t.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    if (t.size() > 15) {
      return StoreStatus::failure("\"" + escapeControl(text) + "\" is too large a scan number");
    }
    out.kind = ScanBound::Kind::Number;
    out.num = static_cast<std::int64_t>(*strictNumber(t));
    return StoreStatus::success();
  }
  if (normaliseTime(t, upper, out.time)) {
    out.kind = ScanBound::Kind::Time;
    return StoreStatus::success();
  }
  return StoreStatus::failure("\"" + escapeControl(text) +
                              "\" is neither a scan number nor a time \"yyyy/MM/dd hh:mm:ss\"");
}

StoreStatus parseScanSelection(std::string_view from, std::string_view to, ScanSelection& out,
                               bool* failedAtTo) {
  out = ScanSelection{};
  if (failedAtTo != nullptr) *failedAtTo = false;
  if (!trimBlanks(from).empty()) {
    if (StoreStatus st = parseScanBound(from, false, out.from); !st.ok()) return st;
  }
  if (!trimBlanks(to).empty()) {
    if (StoreStatus st = parseScanBound(to, true, out.to); !st.ok()) {
      if (failedAtTo != nullptr) *failedAtTo = true;
      return st;
    }
  }
  return StoreStatus::success();
}

bool ScanSelection::contains(std::int64_t num, std::string_view time) const {
  const std::string_view stamp = time.substr(0, kStampLength);
  switch (from.kind) {
    case ScanBound::Kind::Number: if (num < from.num) return false; break;
    case ScanBound::Kind::Time: if (stamp < from.time) return false; break;
    case ScanBound::Kind::None: break;
  }
  switch (to.kind) {
    case ScanBound::Kind::Number: if (num > to.num) return false; break;
    case ScanBound::Kind::Time: if (stamp > to.time) return false; break;
    case ScanBound::Kind::None: break;
  }
  return true;
}

bool ScanSelection::endedBefore(std::int64_t num) const {
  return to.kind == ScanBound::Kind::Number && num > to.num;
}

StoreStatus ScanCursor::open(const std::filesystem::path& recordFile,
                             const ScanSelection& selection) {
  selection_ = selection;
  num_ = 0;
  run_ = nullptr;
  channels_.fill(nullptr);
  meta_ = RecordMeta{};
  status_ = db_.open(recordFile, detail::OpenMode::ReadOnly);
  if (!status_.ok()) return status_;
  detail::enableMappedReads(db_.handle());
  // One read transaction: a run appending meanwhile cannot tear the pass.
  status_ = db_.exec("BEGIN", "read");
  if (!status_.ok()) return status_;
  if (detail::loadMeta(db_.handle(), meta_) != SQLITE_OK) meta_ = RecordMeta{};
  status_ = db_.prepare("SELECT " + detail::recordColumnList() +
                            " FROM DATA WHERE NUM IS NOT NULL ORDER BY rowid",
                        rows_, "read");
  return status_;
}

bool ScanCursor::next() {
  if (!rows_ || !status_.ok()) return false;
  for (;;) {
    if (selection_.endedBefore(num_ + 1)) return false;
    const int rc = sqlite3_step(rows_.get());
    if (rc != SQLITE_ROW) {
      if (rc != SQLITE_DONE) status_ = db_.failure("read");
      rows_ = detail::Statement();
      return false;
    }
    ++num_;
    if (!selection_.contains(num_, time())) continue;
    if (meta_.described() && (run_ == nullptr || !run_->firstNum || num_ < *run_->firstNum ||
                              (run_->lastNum && num_ > *run_->lastNum))) {
      run_ = meta_.runOf(num_);
      channels_.fill(nullptr);
      if (run_ != nullptr) {
        for (const ChannelRow* c : meta_.channelsOf(run_->runId)) {
          if (c->info.channel >= 1 && c->info.channel <= kRecordChannels) {
            channels_[static_cast<std::size_t>(c->info.channel)] = &c->info;
          }
        }
      }
    }
    return true;
  }
}

std::string_view ScanCursor::field(int column) const {
  const unsigned char* text = sqlite3_column_text(rows_.get(), column);
  if (text == nullptr) return {};
  return {reinterpret_cast<const char*>(text),
          static_cast<std::size_t>(sqlite3_column_bytes(rows_.get(), column))};
}

void ScanCursor::copyRow(RecordRow& row) const {
  row[0] = std::to_string(num_);
  for (int c = 1; c < kRecordColumns; ++c) row[static_cast<std::size_t>(c)] = field(c);
}

const ChannelInfo* ScanCursor::channelInfo(int channel) const {
  return channel >= 1 && channel <= kRecordChannels ? channels_[static_cast<std::size_t>(channel)]
                                                     : nullptr;
}

}  // namespace kalivor::store

namespace kalivor::store {

StoreStatus summarizeRecord(const std::filesystem::path& recordFile, RecordSummary& out) {
  out = RecordSummary{};
  detail::RecordDb db;
  if (StoreStatus st = db.open(recordFile, detail::OpenMode::ReadOnly); !st.ok()) return st;
  if (StoreStatus st = db.exec("BEGIN", "read"); !st.ok()) return st;
  detail::Statement q;
  if (StoreStatus st = db.prepare(
          "SELECT (SELECT count(*) FROM DATA WHERE NUM IS NOT NULL),"
          " (SELECT Time FROM DATA WHERE NUM IS NOT NULL ORDER BY rowid LIMIT 1),"
          " (SELECT Time FROM DATA WHERE NUM IS NOT NULL ORDER BY rowid DESC LIMIT 1)",
          q, "read");
      !st.ok()) {
    return st;
  }
  if (sqlite3_step(q.get()) != SQLITE_ROW) return db.failure("read");
  out.scans = sqlite3_column_int64(q.get(), 0);
  out.firstTime = detail::columnText(q.get(), 1);
  out.lastTime = detail::columnText(q.get(), 2);
  // A description that cannot be read does not hide the scans.
  if (detail::loadMeta(db.handle(), out.meta) != SQLITE_OK) out.meta = RecordMeta{};
  return StoreStatus::success();
}

}  // namespace kalivor::store
