// Whole old installations, the same for every test that runs the import on
// two machines: the in-process comparison under Wine and the end-to-end run
// of both programs. Each is a tree of files below a root folder ("{ROOT}" in
// a file's text stands for the root's Windows path), uninstall entries, and
// the registry values to compare afterwards.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

// Files below the root (relative Windows path -> content). "WINDOWS\..." is
// the Windows directory, "Setup\..." the program's directory.
using Tree = std::map<std::string, std::string>;

struct UninstallEntry {
  std::string name;     // the key below ...\CurrentVersion\Uninstall
  std::string command;  // its UninstallString
};

struct Installation {
  const char* name;
  Tree files;
  std::vector<UninstallEntry> uninstallEntries;
  // Registry values to compare: key below HKEY_LOCAL_MACHINE, value name.
  std::vector<std::pair<std::string, std::string>> values;
  // Written before a second run, when not empty.
  Tree beforeSecondRun;
  // The first run's exit status: 3 when it leaves something where it was.
  int status = 0;
};

const std::vector<Installation>& Installations();

// The installation of the crash sweeps: three queues with ten jobs between
// them, each job with one or two data files, all five table profiles, an
// uninstall entry and the new uninstaller.
const Installation& RepresentativeInstallation();

// The text with every "{ROOT}" replaced by `root`, and the other way round.
std::string WithRoot(std::string text, const std::string& root);
std::string WithoutRoot(std::string text, const std::string& root);

// Where a file of a tree lies below the folder that stands for drive C:,
// "WINDOWS\..." spelled as `windowsFolder` (a Wine prefix has "windows").
std::filesystem::path TreePath(const std::string& relative,
                               const std::string& windowsFolder = "WINDOWS");
// Writes a tree's files there, "{ROOT}" standing for C:.
void WriteTree(const std::filesystem::path& drive, const Tree& tree,
               const std::string& windowsFolder = "WINDOWS");

// A REGEDIT4 file that holds the installation's uninstall entries.
std::string UninstallEntriesFile(const Installation& installation);
