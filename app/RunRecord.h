// RunRecord: how checklum ran on an image, kept in IMAGE/CheckLUM.run: the
// Windows directory, the program's path (whose folder holds Backup), the
// OEM code page restore.bat is written in, the registry the runs changed
// (the image's HKLM.reg, or the SOFTWARE hive of its Windows directory),
// and the host folders given as drives. A run writes it, made durable,
// before it changes anything; --restore then undoes the runs exactly so,
// with no option to repeat: each script read as it was written, each undo
// file applied to the registry the runs changed. A run or --restore whose
// options say otherwise is refused: an image is one machine. It also
// says whether the last run finished.
#pragma once

#include <filesystem>
#include <map>
#include <string>

#include "platform/portable/EnvPortable.h"

struct RunRecord {
  static constexpr const char* kFileName = "CheckLUM.run";
  static constexpr const char* kRegistryFile = "HKLM.reg";
  static constexpr const char* kRegistryHive = "hive";

  std::string windowsDirectory;
  std::string programPath;
  uint32_t oemCodePage = 0;
  std::string registry;  // kRegistryFile or kRegistryHive
  std::map<char, std::filesystem::path> drives;
  // A run is under way, or stopped before its registry held its changes
  // (cut short, or its save failed): files it moved into Backup are not in
  // the registry. The next run is refused; --restore clears it.
  bool unfinished = false;

  // The record of a run with `options` over `registry`.
  static RunRecord Of(const PortableOptions& options, const std::string& registry);

  // Reads the image's record: false when there is none (`error` empty) or
  // it cannot be read (the reason in `error`).
  static bool Read(const std::filesystem::path& image, RunRecord* record, std::string* error);
  // Writes it into the image, durably; false with the reason.
  bool Write(const std::filesystem::path& image, std::string* error) const;

  // The first option in which `other` differs, as the user gives it (such
  // as "--drive C:=/mnt/win"), with this record's value; empty when none.
  std::string Difference(const RunRecord& other) const;

  // Which options the user gave.
  struct Given {
    bool windowsDirectory = false;
    bool programPath = false;
    bool oemCodePage = false;
    bool drives = false;
  };
  // `options` with the record's values for those the user did not give.
  void ApplyTo(PortableOptions* options, const Given& given) const;
};
