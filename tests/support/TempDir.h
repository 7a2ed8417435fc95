// TempDir: a fresh, empty host folder for one test, removed with everything
// in it when the TempDir goes. Files are named by paths relative to it, with
// '/' between folders.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

// A host file's bytes ("" when it cannot be read).
std::string ReadAll(const std::filesystem::path& file);
// Writes a host file, creating the folders on its way.
void WriteAll(const std::filesystem::path& file, const std::string& bytes);

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // `relative`, here and below, is a UTF-8 path.
  std::filesystem::path operator/(const std::string& relative) const;

  // Writes a file, creating the folders on its way.
  void Write(const std::string& relative, const std::string& content) const;
  void MakeFolder(const std::string& relative) const;
  // The file's bytes; nothing when it cannot be read.
  std::optional<std::string> Read(const std::string& relative) const;
  bool Exists(const std::string& relative) const;

 private:
  std::filesystem::path path_;
};
