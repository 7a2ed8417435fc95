#include "app/RunReport.h"

#include <cstdio>

#include "platform/portable/files/HostFile.h"
#include "platform/portable/text/Text.h"

std::string RunReport::JsonString(const std::string& text) {
  std::string json = "\"";
  for (char c : Cp1252ToUtf8(text)) {
    unsigned char byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      json += '\\';
      json += c;
    } else if (byte < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
      json += escaped;
    } else {
      json += c;
    }
  }
  return json + "\"";
}

RunReport::~RunReport() {
  if (temporary_.empty()) return;
  out_.close();
  std::error_code ec;
  std::filesystem::remove(temporary_, ec);
}

bool RunReport::Open(const std::filesystem::path& file) {
  file_ = file;
  std::filesystem::path folder = file.parent_path();
  temporary_ = UnusedTemporary(folder.empty() ? "." : folder, "report");
  out_.open(temporary_, std::ios::binary | std::ios::trunc);
  if (!out_) {
    temporary_.clear();
    return false;
  }
  out_ << "{\n  \"events\": [";
  return true;
}

void RunReport::Add(const RunEvent& event) {
  out_ << (first_ ? "\n" : ",\n") << "    {\"event\": " << JsonString(event.kind)
       << ", \"subject\": " << JsonString(event.subject)
       << ", \"object\": " << JsonString(event.object) << "}";
  first_ = false;
}

bool RunReport::Finish(RunOutcome outcome, const ImportCounts& counts, int filesMoved) {
  static const char* const kOutcomes[] = {"ok", "declined", "not started", "incomplete"};
  out_ << (first_ ? "]" : "\n  ]")
       << ",\n  \"result\": {\"ok\": " << (outcome == RunOutcome::kOk ? "true" : "false")
       << ", \"outcome\": \"" << kOutcomes[static_cast<int>(outcome)]
       << "\", \"queues\": " << counts.queues << ", \"jobs\": " << counts.jobs
       << ", \"dataFiles\": " << counts.dataFiles << ", \"filesMoved\": " << filesMoved << "}\n}\n";
  out_.close();
  std::error_code ec;
  if (!out_.fail()) std::filesystem::rename(temporary_, file_, ec);
  bool moved = !out_.fail() && !ec;
  if (moved) temporary_.clear();
  return moved;
}
