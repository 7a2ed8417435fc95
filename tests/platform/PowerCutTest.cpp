// The power-cut model the crash sweeps rest on: it must be as weak as a
// real disk, or the sweeps prove a kinder promise than the one made.
#include <gtest/gtest.h>

#include <map>

#include "platform/testing/PowerCut.h"

namespace {

// Files as a test's disk held them before the run.
struct Disk {
  std::map<std::string, std::string> files;
  PowerCut::Reader Reader() {
    return [this](const std::string& path) -> std::optional<std::string> {
      auto found = files.find(path);
      if (found == files.end()) return std::nullopt;
      return found->second;
    };
  }
};

TEST(PowerCut, NewNameMayOutliveItsDataAndAFlushKeepsBoth) {
  Disk disk;
  PowerCut cut(disk.Reader());
  cut.Before("C:\\B\\copy");
  cut.Copied("C:\\B\\copy", "data");
  PowerCut::Choice nameOnly = cut.EverythingLost();
  nameOnly.folderOps = 1;
  EXPECT_EQ(cut.After(nameOnly).files.at("C:\\B\\copy"), "");
  EXPECT_EQ(cut.After(cut.EverythingLost()).files.at("C:\\B\\copy"), std::nullopt);
  cut.Flushed("c:\\b\\\\COPY");  // another spelling of the same file
  EXPECT_EQ(cut.After(cut.EverythingLost()).files.at("C:\\B\\copy"), "data");
}

// Each file decides alone: the script's lines may stay while the copies
// they name are lost, and a kept write may be torn.
TEST(PowerCut, FilesKeepTheirUnflushedWritesEachOnItsOwn) {
  Disk disk;
  PowerCut cut(disk.Reader());
  cut.Before("C:\\restore.bat");
  size_t script = cut.Created("C:\\restore.bat");
  cut.Synced(script);
  cut.Before("C:\\copy");
  cut.Copied("C:\\copy", "data");
  cut.Appended(script, "copy/y copy C:\\x\r\n");
  PowerCut::Choice choice = cut.EverythingLost();
  choice.files[script] = {1, 10};
  PowerCut::State state = cut.After(choice);
  EXPECT_EQ(state.files.at("C:\\restore.bat"), "copy/y cop");
  EXPECT_EQ(state.files.at("C:\\copy"), std::nullopt);
  EXPECT_EQ(cut.After(cut.EverythingKept()).files.at("C:\\copy"), "data");
}

// Folder operations survive in order: a delete after a create never
// survives without it, and a written-through rename makes all before it
// durable.
TEST(PowerCut, FolderOperationsSurviveAsAPrefixAndRenamesWriteThrough) {
  Disk disk;
  disk.files["C:\\old.ini"] = "old";
  disk.files["C:\\restore.bat"] = "earlier";
  PowerCut cut(disk.Reader());
  cut.Before("C:\\old.ini");
  cut.Removed("C:\\old.ini");
  cut.Before("C:\\restore.bat");
  cut.Before("C:\\restore.bat.1");
  cut.Renamed("C:\\restore.bat", "C:\\restore.bat.1");
  PowerCut::State lost = cut.After(cut.EverythingLost());
  EXPECT_EQ(lost.files.at("C:\\old.ini"), std::nullopt);
  EXPECT_EQ(lost.files.at("C:\\restore.bat.1"), "earlier");
  EXPECT_EQ(lost.files.at("C:\\restore.bat"), std::nullopt);
  cut.MadeFolder("C:\\New");
  cut.Before("C:\\New\\f");
  cut.Created("C:\\New\\f");
  PowerCut::State again = cut.After(cut.EverythingLost());
  EXPECT_EQ(again.lostFolders, std::vector<std::string>{"C:\\New"});
  EXPECT_EQ(again.files.at("C:\\New\\f"), std::nullopt);
}

TEST(PowerCut, ACopyOverAFileIsWrittenIntoIt) {
  Disk disk;
  disk.files["C:\\Spool\\df"] = "earlier copy";
  PowerCut cut(disk.Reader());
  cut.Before("C:\\Spool\\df");
  cut.Copied("C:\\Spool\\df", "new copy");
  PowerCut::Choice truncated = cut.EverythingLost();
  truncated.files[0] = {1, SIZE_MAX};  // the truncation kept, not the data
  EXPECT_EQ(cut.After(truncated).files.at("C:\\Spool\\df"), "");
  EXPECT_EQ(cut.After(cut.EverythingLost()).files.at("C:\\Spool\\df"), "earlier copy");
}

}  // namespace
