// SPDX-License-Identifier: MIT
#include "store/record_browser.h"

#include "common/text.h"
#include "store/csv_export.h"
#include "store/record_files.h"
#include "store/record_reader.h"
#include "store/sqlite_record.h"

namespace kalivor::store {

RecordBrowser::RecordBrowser(std::filesystem::path dataFolder, Messages& messages)
    : dataFolder_(std::move(dataFolder)), messages_(messages) {}

const std::vector<std::string>& RecordBrowser::Fresh() {
  files_ = listRecordFiles(dataFolder_);
  return files_;
}

void RecordBrowser::Open(std::string_view listedName) {
  if (!contains(listedName, "mdb") || !isPlainFileName(listedName)) {
    messages_.inform(kSelectRecordMessage);
    return;
  }
  pageFirst_ = 1;
  pageLast_ = -1;
  // A new record starts on its first page, so there is nothing before it.
  buttons_.previous = false;
  viewed_ = (recordFolder(dataFolder_) / std::string(listedName)).string();
  showPage();
  Fresh();
}

void RecordBrowser::stepNext() {
  pageFirst_ = pageLast_ + 1;
  buttons_.previous = pageFirst_ != 1;
  if (pageLast_ + kPageSize >= recordTotal_) {
    pageLast_ = recordTotal_;
    buttons_.next = false;
  } else {
    pageLast_ += kPageSize;
    buttons_.next = true;
  }
}

void RecordBrowser::Next() {
  if (!buttons_.next) return;
  stepNext();
  showPage();
}

void RecordBrowser::Previous() {
  if (!buttons_.previous) return;
  pageLast_ = pageFirst_ - 1;
  buttons_.next = pageLast_ != recordTotal_;
  if (pageFirst_ - kPageSize <= 1) {
    pageFirst_ = 1;
    buttons_.previous = false;
  } else {
    pageFirst_ -= kPageSize;
    buttons_.previous = true;
  }
  showPage();
}

bool RecordBrowser::showPage() {
  rows_.clear();
  RecordReader reader;
  StoreStatus st = reader.open(viewed_);
  std::int64_t total = 0;
  if (st.ok()) st = reader.renumberAndCount(total);
  if (!st.ok()) {
    messages_.inform(st.error);
    buttons_ = BrowserButtons{};
    return false;
  }
  recordTotal_ = total;
  if (recordTotal_ == 0) {
    messages_.inform(kRecordNullMessage);
    buttons_ = BrowserButtons{};
    return true;
  }
  if (recordTotal_ > kPageSize) {
    if (pageLast_ == -1) {
      pageLast_ = kPageSize;
      buttons_.next = true;
    }
    // The record may have shrunk since the page was computed.
    if (pageLast_ > recordTotal_) {
      pageLast_ = recordTotal_;
      buttons_.next = false;
    }
  } else {
    // The whole record fits on one page, wherever paging stood before.
    pageFirst_ = 1;
    pageLast_ = recordTotal_;
    buttons_.previous = false;
    buttons_.next = false;
  }
  if (pageLast_ >= pageFirst_) {
    bool anyRow = false;
    st = reader.pageRows(pageFirst_, pageLast_, rows_, anyRow);
    if (!st.ok()) {
      rows_.clear();
      messages_.inform(st.error);
      buttons_ = BrowserButtons{};
      return false;
    }
    if (anyRow) buttons_.csv = true;
  }
  return true;
}

void RecordBrowser::Deleted(std::string_view listedName) {
  if (contains(listedName, "Record")) {
    if (beep) beep();
    if (messages_.askYesNo(deleteQuestion(listedName), "", MessageIcon::None)) {
      const std::string message = deleteOutcomeMessage(deleteRecordFile(dataFolder_, listedName));
      if (!message.empty()) messages_.inform(message);
    }
  }
  Fresh();
}

StoreStatus RecordBrowser::exportCsv(const std::filesystem::path& csvFile) {
  if (!buttons_.csv) return StoreStatus::failure("No record with scans is shown.");
  // A failed export (a full disk) leaves the file as it was: never half a line.
  const AppendRollback rollback(csvFile);
  std::FILE* out = nullptr;
  StoreStatus st = openCsvForAppend(csvFile, out);
  bool shown = false;  // showPage has already told the user why it failed
  if (st.ok()) {
    for (int page = 0; page < 10; ++page) {
      st = writeCsvPage(out, csvFile.string(), rows_);
      if (!st.ok() || pageLast_ >= recordTotal_) break;
      stepNext();
      if (!showPage()) {
        st = StoreStatus::failure("The export stopped: " + viewed_ + " could not be read.");
        shown = true;
        break;
      }
    }
    StoreStatus closed = closeCsv(out, csvFile.string());
    if (st.ok()) st = closed;
    if (!st.ok()) rollback.restore();
  }
  if (!shown) messages_.inform(st.ok() ? std::string(kDataSavedMessage) : st.error);
  return st;
}

}  // namespace kalivor::store
