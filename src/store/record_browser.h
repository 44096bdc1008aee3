// SPDX-License-Identifier: MIT
#pragma once
// The record browser's core: the file list, paging through a record 1000 scans at a time,
// deleting records and the CSV export of the shown pages. The window shows `rows()` and the
// button states and turns its buttons into these calls.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "common/messages.h"
#include "store/store_types.h"

namespace kalivor::store {

struct BrowserButtons {
  bool csv = false;       // "CSV"
  bool previous = false;  // "Previous"
  bool next = false;      // "Next"
};

class RecordBrowser {
 public:
  RecordBrowser(std::filesystem::path dataFolder, Messages& messages);

  // "Fresh": re-reads the record file names.
  const std::vector<std::string>& Fresh();
  // "Open": shows the first page of the listed record, then "Fresh".
  void Open(std::string_view listedName);
  // "Next" / "Previous": no effect while the button is disabled.
  void Next();
  void Previous();
  // "Deleted": asks, deletes the listed record unless a run holds it, then "Fresh".
  void Deleted(std::string_view listedName);
  // "CSV", with the file the save dialog chose: appends the shown page and up to nine following
  // pages, leaving the last written page shown; "Data saved !" on success, otherwise the failure
  // is shown and returned.
  StoreStatus exportCsv(const std::filesystem::path& csvFile);

  // Called before the delete question (the window sounds the system beep).
  std::function<void()> beep;

  const std::vector<std::string>& files() const { return files_; }
  // Data rows of the shown page: grid rows 2.. (scan PageFirst + i in rows()[i]); a scan number
  // without a row gives a row of empty texts, a NULL field an empty text.
  const std::vector<RecordRow>& rows() const { return rows_; }
  const BrowserButtons& buttons() const { return buttons_; }
  const std::string& ViewedDatabase() const { return viewed_; }
  std::int64_t PageFirst() const { return pageFirst_; }
  std::int64_t PageLast() const { return pageLast_; }
  std::int64_t RecordTotal() const { return recordTotal_; }

 private:
  bool showPage();  // false when the record could not be shown (message already shown)
  void stepNext();

  std::filesystem::path dataFolder_;
  Messages& messages_;
  std::vector<std::string> files_;
  std::vector<RecordRow> rows_;
  BrowserButtons buttons_;
  std::string viewed_;
  std::int64_t pageFirst_ = 1;
  std::int64_t pageLast_ = -1;
  std::int64_t recordTotal_ = 0;
};

}  // namespace kalivor::store
