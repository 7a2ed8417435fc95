// A scenario: an image built in a fresh temporary folder from Windows paths
// and file contents, an EnvPortable over it, and read-back helpers for the
// files and registry values the import leaves behind.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/portable/EnvPortable.h"
#include "support/TempDir.h"

struct RegValue {
  uint32_t type = 0;
  std::string data;
  bool operator==(const RegValue&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const RegValue& v) {
  return out << "type " << v.type << " \"" << v.data << "\" (" << v.data.size() << " bytes)";
}

class Scenario {
  TempDir dir_;  // first: everything else lives in it

 public:
  Scenario();
  ~Scenario();

  // Writes a file (creating its directories) at a Windows path on drive C:.
  void Write(const std::string& windowsPath, const std::string& content);
  void MakeDirectory(const std::string& windowsPath);
  std::optional<std::string> Read(const std::string& windowsPath) const;
  bool Exists(const std::string& windowsPath) const;
  // File names in a directory, sorted; empty when it does not exist.
  std::vector<std::string> List(const std::string& windowsPath) const;
  // Every file below the image's drive C:, as Windows path -> content.
  std::map<std::string, std::string> Files() const;

  // The env for the next run (made on first use). Reset saves the registry
  // and makes a fresh one, as the next process would get; the messages so far
  // are kept.
  EnvPortable& env();
  void Reset();
  // Drops the env without saving its registry, as a process that died would.
  void Discard() { env_.reset(); }
  PortableOptions options;  // change before env() is first used
  std::string Messages() const { return messages_.str(); }

  std::optional<RegValue> Value(const std::string& keyPath, const char* name);
  // A REG_SZ value's text, without the NUL the registry may store after it;
  // nothing when the value is missing or of another type.
  std::optional<std::string> Text(const std::string& keyPath, const char* name);
  bool KeyExists(const std::string& keyPath);
  void CreateKey(const std::string& keyPath);

  // Runs the work step as the program does; true for OK.
  bool RunWorkStep();

  std::filesystem::path root;

 private:
  static std::string Relative(const std::string& windowsPath);
  std::filesystem::path Host(const std::string& windowsPath) const;
  std::unique_ptr<EnvPortable> env_;
  std::ostringstream progress_;
  std::ostringstream messages_;
};

// The typical old installation of the examples: pointer profile, main profile
// with general settings and current jobs.
void WriteTypicalInstallation(Scenario& scenario);

// Executes restore.bat's copy lines as cmd would (quotes, %%), from the
// backup directory. A copy whose source is missing fails and the script goes
// on, as in cmd.
struct RestoreRun {
  bool understood = true;  // every line was a well-formed copy line
  int copied = 0;
  int failed = 0;
};
RestoreRun RunRestoreScript(Env& env, const std::string& backupDirectory,
                            const std::string& script);

// The copy lines of a restore script as cmd reads them (in code page 437,
// the OEM code page of a scenario's machine, given back in the ANSI code
// page): source (as written: a bare name is relative to the backup
// directory) and target. False when a line is no well-formed copy line.
bool ParseRestoreScript(const std::string& script,
                        std::vector<std::pair<std::string, std::string>>* lines);

// The restore chain of a backup directory, in the order it is run:
// restore.bat, then restore.bat.N from the highest N down.
std::vector<std::string> RestoreChain(const Scenario& s, const std::string& backupDirectory);
// Runs the whole chain; false when a script is not understood.
bool RunRestoreChain(Scenario& s, const std::string& backupDirectory);

// The files on drive C: but those in the import's own directories Backup
// and Spool of `setup`: the old installation and the rest of the machine.
std::map<std::string, std::string> OldFiles(const Scenario& s,
                                            const std::string& setup = "C:\\Setup");
// Checks that every file of `before` is in its place unchanged, or gone and
// in the backup directory byte for byte, with a line of the restore chain
// that copies it back.
void ExpectNothingLost(Scenario& s, const std::map<std::string, std::string>& before,
                       const std::string& setup = "C:\\Setup");

// A registry file's keys and values written out in one form (empty when
// the file is missing), so that files compare by what they hold.
std::string RegistryContents(const std::filesystem::path& file);
// Applies the registry undo chain of `backupDirectory` (restore.reg, then
// restore.reg.N from the highest N down) to the registry file `file`;
// false, with the reason added as a test failure, when it cannot be.
bool ApplyUndoChain(Scenario& s, const std::string& backupDirectory,
                    const std::filesystem::path& file);

// DWORD helper: the 4 little-endian bytes of `value`.
std::string DwordBytes(uint32_t value);
