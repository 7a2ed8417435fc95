// checklum --report FILE: the run log's facts as JSON, for scripts that
// migrate many machines. One object: "events", each with its kind, subject
// and object as the log has them (text in UTF-8), then "result": "ok" (true
// only when everything found was carried over), "outcome" (as the exit
// status: "ok", "declined", "not started", "incomplete") and the counts.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>

#include "app/CheckLUMDlg.h"
#include "import/ImportRun.h"
#include "import/RunLog.h"

// The report is written to a temporary file beside FILE and takes FILE's
// place only once it is whole: a run that ends before it has anything to
// report (the image in use, a registry file that cannot be read) leaves an
// earlier FILE as it was.
class RunReport {
 public:
  RunReport() = default;
  RunReport(const RunReport&) = delete;
  RunReport& operator=(const RunReport&) = delete;
  ~RunReport();

  // False when the temporary file cannot be made.
  bool Open(const std::filesystem::path& file);
  void Add(const RunEvent& event);
  // Writes the result, and puts the report in FILE's place; false when it
  // could not be written whole or moved there.
  bool Finish(RunOutcome outcome, const ImportCounts& counts, int filesMoved);

  // `text` (code page 1252) as a JSON string, quotes included.
  static std::string JsonString(const std::string& text);

 private:
  std::ofstream out_;
  std::filesystem::path file_, temporary_;
  bool first_ = true;
};
