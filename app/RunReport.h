// checklum --report FILE: the run log's facts as JSON, for scripts that
// migrate many machines. One object: "events", each with its kind, subject
// and object as the log has them (text in UTF-8), then "result".
#pragma once

#include <filesystem>
#include <fstream>
#include <string>

#include "import/ImportRun.h"
#include "import/RunLog.h"

class RunReport {
 public:
  // False when the file cannot be made.
  bool Open(const std::filesystem::path& file);
  void Add(const RunEvent& event);
  // Writes the result and closes the file; false when it could not be
  // written whole.
  bool Finish(bool ok, const ImportCounts& counts, int filesMoved);

  // `text` (code page 1252) as a JSON string, quotes included.
  static std::string JsonString(const std::string& text);

 private:
  std::ofstream out_;
  bool first_ = true;
};
