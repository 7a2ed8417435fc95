#include "app/RunReport.h"

#include <cstdio>

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

bool RunReport::Open(const std::filesystem::path& file) {
  out_.open(file, std::ios::binary | std::ios::trunc);
  if (!out_) return false;
  out_ << "{\n  \"events\": [";
  return true;
}

void RunReport::Add(const RunEvent& event) {
  out_ << (first_ ? "\n" : ",\n") << "    {\"event\": " << JsonString(event.kind)
       << ", \"subject\": " << JsonString(event.subject)
       << ", \"object\": " << JsonString(event.object) << "}";
  first_ = false;
}

bool RunReport::Finish(bool ok, const ImportCounts& counts, int filesMoved) {
  out_ << (first_ ? "]" : "\n  ]") << ",\n  \"result\": {\"ok\": " << (ok ? "true" : "false")
       << ", \"queues\": " << counts.queues << ", \"jobs\": " << counts.jobs
       << ", \"dataFiles\": " << counts.dataFiles << ", \"filesMoved\": " << filesMoved << "}\n}\n";
  out_.close();
  return !out_.fail();
}
