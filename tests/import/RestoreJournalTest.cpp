#include <gtest/gtest.h>

#include <set>

#include "import/RestoreJournal.h"
#include "import/RestoreLines.h"
#include "platform/EnvWrapper.h"
#include "platform/portable/files/HostFile.h"
#include "platform/testing/FaultInjectionEnv.h"
#include "support/Scenario.h"

TEST(RestoreLine, TypicalPathsStayUnquoted) {
  EXPECT_EQ(CopyLine("winlum.ini", "C:\\WINDOWS\\lum.ini", false),
            "copy/y winlum.ini C:\\WINDOWS\\lum.ini\r\n");
  EXPECT_EQ(CopyLine("Alpha-123", "C:\\OLD\\Q~1\\cf_1.ini", false),
            "copy/y Alpha-123 C:\\OLD\\Q~1\\cf_1.ini\r\n");
  // Bytes of the ANSI code page are ordinary file-name characters.
  EXPECT_EQ(CopyLine("K\xF6ln", "C:\\K\xF6ln\\queue.ini", false),
            "copy/y K\xF6ln C:\\K\xF6ln\\queue.ini\r\n");
}

TEST(RestoreLine, FieldsCmdWouldSplitOrInterpretAreQuoted) {
  EXPECT_EQ(CopyLine("lum.ini", "C:\\Program Files\\LUM\\lum.ini", false),
            "copy/y lum.ini \"C:\\Program Files\\LUM\\lum.ini\"\r\n");
  EXPECT_EQ(CopyLine("A&B", "C:\\x(1)\\y^z", false), "copy/y \"A&B\" \"C:\\x(1)\\y^z\"\r\n");
}

TEST(RestoreLine, EveryPercentIsDoubledInBothKinds) {
  EXPECT_EQ(CopyLine("100%", "C:\\%PATH%\\q.ini", false),
            "copy/y \"100%%\" \"C:\\%%PATH%%\\q.ini\"\r\n");
  EXPECT_EQ(CopyLine("C:\\S\\\\Spool\\d%1", "C:\\Q\\d%1", true),
            "copy/y \"C:\\S\\\\Spool\\d%%1\" \"C:\\Q\\d%%1\"\r\n");
}

TEST(RestoreLine, OnlyPlainFileNamesAreBackupNames) {
  for (const char* name :
       {"lum.ini", "Alpha-123", "My Queue", ".hidden", "a..b", "CONSOLE", "COM10", "nul-1"}) {
    EXPECT_TRUE(IsPlainFileName(name)) << name;
  }
  for (const char* name :
       {"",    ".",    "..",  "..\\x", "a/b",   "C:x", "a<b", "a>b",  "a\"b",     "a|b",     "a?b",
        "a*b", "a\tb", "\\x", "name.", "name ", "CON", "nul", "Com1", "LPT9.txt", "con .ini"}) {
    EXPECT_FALSE(IsPlainFileName(name)) << name;
  }
}

class MoveToBackupTest : public ::testing::Test {
 protected:
  void SetUp() override { s.MakeDirectory("C:\\Setup\\Backup"); }
  RestoreJournal& journal() {
    if (!journal_) {
      journal_ = std::make_unique<RestoreJournal>(s.env());
      EXPECT_TRUE(journal_->Open(kBackup, kSpool));
    }
    return *journal_;
  }
  std::string Script() {
    journal().Close();
    return s.Read("C:\\Setup\\Backup\\restore.bat").value_or("<missing>");
  }

  static constexpr const char* kBackup = "C:\\Setup\\\\Backup";
  static constexpr const char* kSpool = "C:\\Setup\\\\Spool\\";
  Scenario s;
  std::unique_ptr<RestoreJournal> journal_;
};

// The source goes when the move is committed, once its copy and its line are
// durable.
TEST_F(MoveToBackupTest, MovesTheFileAndWritesItsLine) {
  s.Write("C:\\OLD\\lum.ini", "[Settings]\r\n");
  journal().MoveToBackup("C:\\OLD\\lum.ini", "lum.ini");
  EXPECT_TRUE(s.Exists("C:\\OLD\\lum.ini"));
  EXPECT_TRUE(journal().Commit());
  EXPECT_FALSE(s.Exists("C:\\OLD\\lum.ini"));
  EXPECT_EQ(s.Read("C:\\Setup\\Backup\\lum.ini"), "[Settings]\r\n");
  EXPECT_EQ(Script(), "copy/y lum.ini C:\\OLD\\lum.ini\r\n");
}

TEST_F(MoveToBackupTest, MissingSourceStillLeavesItsLine) {
  journal().MoveToBackup("C:\\OLD\\nothing.ini", "winlum.ini");
  EXPECT_FALSE(s.Exists("C:\\Setup\\Backup\\winlum.ini"));
  EXPECT_EQ(Script(), "copy/y winlum.ini C:\\OLD\\nothing.ini\r\n");
  EXPECT_EQ(s.Messages(), "");
}

TEST_F(MoveToBackupTest, NameUsedEarlierInTheRunGetsADistinctName) {
  s.Write("C:\\A\\cf1.ini", "first");
  s.Write("C:\\B\\cf1.ini", "second");
  s.Write("C:\\C\\cf1.ini", "third");
  journal().MoveToBackup("C:\\A\\cf1.ini", "Alpha-123");
  journal().MoveToBackup("C:\\B\\cf1.ini", "Alpha-123");
  journal().MoveToBackup("C:\\C\\cf1.ini", "ALPHA-123");  // same file on this file system
  EXPECT_EQ(s.Read("C:\\Setup\\Backup\\Alpha-123"), "first");
  EXPECT_EQ(s.Read("C:\\Setup\\Backup\\Alpha-123~2"), "second");
  EXPECT_EQ(s.Read("C:\\Setup\\Backup\\ALPHA-123~3"), "third");
  EXPECT_EQ(Script(),
            "copy/y Alpha-123 C:\\A\\cf1.ini\r\n"
            "copy/y Alpha-123~2 C:\\B\\cf1.ini\r\n"
            "copy/y ALPHA-123~3 C:\\C\\cf1.ini\r\n");
}

// An earlier run's backup is that run's only way back: this run's copy takes
// a free name instead of replacing it.
TEST_F(MoveToBackupTest, BackupFromAnEarlierRunIsNeverReplaced) {
  s.Write("C:\\Setup\\Backup\\lum.ini", "old backup");
  s.Write("C:\\Setup\\Backup\\LUM.INI~2", "older backup");
  s.Write("C:\\OLD\\lum.ini", "new");
  journal().MoveToBackup("C:\\OLD\\lum.ini", "lum.ini");
  EXPECT_EQ(s.Read("C:\\Setup\\Backup\\lum.ini"), "old backup");
  EXPECT_EQ(s.Read("C:\\Setup\\Backup\\LUM.INI~2"), "older backup");
  EXPECT_EQ(s.Read("C:\\Setup\\Backup\\lum.ini~3"), "new");
  EXPECT_EQ(Script(), "copy/y lum.ini~3 C:\\OLD\\lum.ini\r\n");
}

// A file that appears in the backup directory after the journal has read it
// is not replaced either: it only moves the choice on to the next name.
TEST_F(MoveToBackupTest, BackupThatAppearsDuringTheRunIsNeverReplaced) {
  s.Write("C:\\OLD\\lum.ini", "new");
  RestoreJournal& opened = journal();
  s.Write("C:\\Setup\\Backup\\lum.ini", "came later");
  opened.MoveToBackup("C:\\OLD\\lum.ini", "lum.ini");
  EXPECT_EQ(s.Read("C:\\Setup\\Backup\\lum.ini"), "came later");
  EXPECT_EQ(s.Read("C:\\Setup\\Backup\\lum.ini~2"), "new");
  EXPECT_EQ(Script(), "copy/y lum.ini~2 C:\\OLD\\lum.ini\r\n");
}

// A re-run keeps the earlier scripts as restore.bat.N, the newest highest.
TEST_F(MoveToBackupTest, EarlierRestoreScriptsAreKept) {
  s.Write("C:\\Setup\\Backup\\restore.bat", "second run\r\n");
  s.Write("C:\\Setup\\Backup\\restore.bat.1", "first run\r\n");
  s.Write("C:\\OLD\\lum.ini", "third");
  journal().MoveToBackup("C:\\OLD\\lum.ini", "lum.ini");
  EXPECT_EQ(Script(), "copy/y lum.ini C:\\OLD\\lum.ini\r\n");
  EXPECT_EQ(s.Read("C:\\Setup\\Backup\\restore.bat.1"), "first run\r\n");
  EXPECT_EQ(s.Read("C:\\Setup\\Backup\\restore.bat.2"), "second run\r\n");
}

TEST_F(MoveToBackupTest, EarlierScriptThatCannotBeKeptStopsTheRun) {
  s.Write("C:\\Setup\\Backup\\restore.bat", "first run\r\n");
  FaultInjectionEnv faulty(s.env());
  faulty.FailFirst("RenameFile", kErrorAccessDenied);
  RestoreJournal journal(faulty);
  EXPECT_FALSE(journal.Open(kBackup, kSpool));
  EXPECT_EQ(s.Read("C:\\Setup\\Backup\\restore.bat"), "first run\r\n");
  EXPECT_NE(s.Messages().find("cannot be kept as C:\\Setup\\\\Backup\\restore.bat.1"),
            std::string::npos)
      << s.Messages();
}

TEST_F(MoveToBackupTest, NameThatIsNotAPlainFileNameNeverLeavesTheBackupDirectory) {
  s.Write("C:\\OLD\\Q\\queue.ini", "queue");
  journal().MoveToBackup("C:\\OLD\\Q\\queue.ini", "..\\..\\WINDOWS\\evil");
  journal().MoveToBackup("C:\\OLD\\Q\\queue.ini", "");
  EXPECT_EQ(s.Read("C:\\OLD\\Q\\queue.ini"), "queue");
  EXPECT_FALSE(s.Exists("C:\\WINDOWS\\evil"));
  EXPECT_EQ(Script(), "");
  EXPECT_NE(s.Messages().find("is not a valid file name"), std::string::npos) << s.Messages();
}

// cmd reads a batch file in the OEM code page (437 on this machine): each
// line is written in it. A path it cannot carry would restore to another
// file, so that file stays where it is; a backup name, the import's own
// choice, takes '_' for such a character, and its file still moves.
TEST_F(MoveToBackupTest, LinesAreWrittenInTheCodePageCmdReadsThemIn) {
  s.Write("C:\\K\xF6ln\\queue.ini", "k");  // o umlaut: 94 in code page 437
  s.Write("C:\\OLD\\\xD8st.ini", "o");     // O slash: not in code page 437
  s.Write("C:\\OLD\\a.ini", "a");
  journal().MoveToBackup("C:\\K\xF6ln\\queue.ini", "K\xF6ln");
  journal().MoveToBackup("C:\\OLD\\\xD8st.ini", "x");
  journal().MoveToBackup("C:\\OLD\\a.ini", "\xD8st");
  journal().MoveToBackup("C:\\OLD\\gone\xD8.ini", "y");  // missing: no line, no message
  ASSERT_TRUE(journal().Commit());
  EXPECT_EQ(Script(), "copy/y K\x94ln C:\\K\x94ln\\queue.ini\r\ncopy/y _st C:\\OLD\\a.ini\r\n");
  EXPECT_EQ(s.Read("C:\\OLD\\\xD8st.ini"), "o");
  EXPECT_EQ(
      s.Messages(),
      "CheckLUM: C:\\OLD\\\xD8st.ini stays where it is: restore.bat could not name it, since the "
      "command prompt reads the script in a code page that lacks a character of that "
      "name.\n");
  ASSERT_TRUE(
      RunRestoreScript(s.env(), kBackup, *s.Read("C:\\Setup\\Backup\\restore.bat")).understood);
  EXPECT_EQ(s.Read("C:\\K\xF6ln\\queue.ini"), "k");
  EXPECT_EQ(s.Read("C:\\OLD\\a.ini"), "a");
}

TEST_F(MoveToBackupTest, FailedCopyOfAnExistingFileKeepsItAndTellsTheUser) {
  s.Write("C:\\OLD\\lum.ini", "keep me");
  FaultInjectionEnv faulty(s.env());
  faulty.FailFirst("CopyFileTo", 112);
  RestoreJournal journal(faulty);
  ASSERT_TRUE(journal.Open(kBackup, kSpool));
  journal.MoveToBackup("C:\\OLD\\lum.ini", "lum.ini");
  journal.Close();
  EXPECT_EQ(s.Read("C:\\OLD\\lum.ini"), "keep me");
  EXPECT_EQ(s.Read("C:\\Setup\\Backup\\restore.bat"), "");
  EXPECT_NE(s.Messages().find("Error copying C:\\OLD\\lum.ini"), std::string::npos) << s.Messages();
}

TEST_F(MoveToBackupTest, SourceThatCannotBeDeletedIsReported) {
  s.Write("C:\\OLD\\lum.ini", "stuck");
  FaultInjectionEnv faulty(s.env());
  faulty.FailFirst("RemoveFile", kErrorSharingViolation);
  RestoreJournal journal(faulty);
  ASSERT_TRUE(journal.Open(kBackup, kSpool));
  journal.MoveToBackup("C:\\OLD\\lum.ini", "lum.ini");
  journal.Close();
  EXPECT_EQ(s.Read("C:\\OLD\\lum.ini"), "stuck");
  EXPECT_EQ(s.Read("C:\\Setup\\Backup\\lum.ini"), "stuck");
  EXPECT_EQ(s.Read("C:\\Setup\\Backup\\restore.bat"), "copy/y lum.ini C:\\OLD\\lum.ini\r\n");
  EXPECT_NE(s.Messages().find("cannot be deleted:\nSharing violation."), std::string::npos)
      << s.Messages();
}

// A read-only file moves as any other, and its backup can be made durable.
TEST_F(MoveToBackupTest, ReadOnlySourceMoves) {
  s.Write("C:\\OLD\\lum.ini", "read-only");
  MakeReadOnly(s.root / "C" / "OLD" / "lum.ini");
  RestoreJournal journal(s.env());
  ASSERT_TRUE(journal.Open(kBackup, kSpool));
  journal.MoveToBackup("C:\\OLD\\lum.ini", "lum.ini");
  EXPECT_TRUE(journal.Commit());
  journal.Close();
  EXPECT_FALSE(s.Exists("C:\\OLD\\lum.ini"));
  EXPECT_EQ(s.Read("C:\\Setup\\Backup\\lum.ini"), "read-only");
  EXPECT_FALSE(IsReadOnly(s.root / "C" / "Setup" / "Backup" / "lum.ini"));
  EXPECT_EQ(s.Read("C:\\Setup\\Backup\\restore.bat"), "copy/y lum.ini C:\\OLD\\lum.ini\r\n");
  EXPECT_EQ(s.Messages(), "");
}

TEST_F(MoveToBackupTest, LinesNameFullPathsAndEmptySourcesNone) {
  s.Write("C:\\Setup\\rel\\a.ini", "a");
  s.Write("C:\\Setup\\Spool\\df1", "spooled");
  journal().MoveToBackup("rel\\a.ini", "a.ini");  // from the current directory
  journal().MoveToBackup("", "b.ini");
  journal().AddJobFileCopyLine("C:\\Setup\\\\Spool\\df1", "C:\\Q\\..\\Q\\df1");
  EXPECT_EQ(Script(),
            "copy/y a.ini C:\\Setup\\rel\\a.ini\r\n"
            "copy/y \"C:\\Setup\\Spool\\df1\" \"C:\\Q\\df1\"\r\n");
}

namespace {

// Counts the flushes on their way to the image.
class FlushCounter : public EnvWrapper {
 public:
  using EnvWrapper::EnvWrapper;
  bool FlushFiles(const std::vector<std::string>& paths) override {
    ++flushes;
    files += static_cast<int>(paths.size());
    return EnvWrapper::FlushFiles(paths);
  }
  int flushes = 0;
  int files = 0;
};

}  // namespace

// Many moves cost a few flushes: the copies, spooled copies and lines of a
// group are made durable together.
TEST_F(MoveToBackupTest, MovesAreCommittedInGroups) {
  constexpr int kMoves = 1100;  // one full group and part of a second
  for (int i = 0; i < kMoves; ++i) s.Write("C:\\OLD\\cf" + std::to_string(i) + ".ini", "job");
  s.Write("C:\\Setup\\Spool\\df1", "data");
  FlushCounter counter(s.env());
  RestoreJournal journal(counter);
  ASSERT_TRUE(journal.Open(kBackup, kSpool));
  for (int i = 0; i < kMoves; ++i) {
    journal.MoveToBackup("C:\\OLD\\cf" + std::to_string(i) + ".ini", "A-" + std::to_string(i));
  }
  journal.AddJobFileCopyLine("C:\\Setup\\Spool\\df1", "C:\\OLD\\df1");
  journal.Close();
  EXPECT_EQ(counter.flushes, 2) << s.Messages();
  EXPECT_EQ(counter.files, kMoves + 1);
  EXPECT_TRUE(s.List("C:\\OLD").empty());
  EXPECT_EQ(s.List("C:\\Setup\\Backup").size(), kMoves + 1u);
}

// Before a directory is looked at, only moves out of that directory need to
// be done with; others wait for their group.
TEST_F(MoveToBackupTest, LookingIntoADirectoryCommitsOnlyMovesOutOfIt) {
  s.Write("C:\\OLD\\A\\queue.ini", "a");
  s.Write("C:\\OLD\\B\\queue.ini", "b");
  FlushCounter counter(s.env());
  RestoreJournal journal(counter);
  ASSERT_TRUE(journal.Open(kBackup, kSpool));
  journal.MoveToBackup("C:\\OLD\\A\\queue.ini", "A");
  EXPECT_TRUE(journal.CommitBefore("C:\\OLD\\B"));
  EXPECT_TRUE(journal.CommitBefore("C:\\OLD"));
  EXPECT_EQ(counter.flushes, 0);
  EXPECT_TRUE(s.Exists("C:\\OLD\\A\\queue.ini"));
  EXPECT_TRUE(journal.CommitBefore("c:\\old\\x\\..\\a\\"));
  EXPECT_EQ(counter.flushes, 1);
  EXPECT_FALSE(s.Exists("C:\\OLD\\A\\queue.ini"));
  journal.Close();
}

TEST_F(MoveToBackupTest, CopiesThatCannotBeMadeDurableKeepTheirSources) {
  s.Write("C:\\OLD\\a.ini", "a");
  s.Write("C:\\OLD\\b.ini", "b");
  FaultInjectionEnv faulty(s.env());
  faulty.FailFirst("FlushFiles", kErrorDiskFull);
  RestoreJournal journal(faulty);
  ASSERT_TRUE(journal.Open(kBackup, kSpool));
  journal.MoveToBackup("C:\\OLD\\a.ini", "a.ini");
  EXPECT_FALSE(journal.Commit());
  journal.MoveToBackup("C:\\OLD\\b.ini", "b.ini");  // the journal moves nothing more
  journal.Close();
  EXPECT_EQ(s.Read("C:\\OLD\\a.ini"), "a");
  EXPECT_EQ(s.Read("C:\\OLD\\b.ini"), "b");
  EXPECT_FALSE(s.Exists("C:\\Setup\\Backup\\b.ini"));
  EXPECT_NE(s.Messages().find("cannot be made safe on disk:\nDisk full."), std::string::npos)
      << s.Messages();
}

// A line that cannot be written whole would have the next one glued onto
// it: the journal breaks there, as restore.reg does, and the run says so.
TEST_F(MoveToBackupTest, UnwritableRestoreLineBreaksTheJournal) {
  s.Write("C:\\OLD\\lum.ini", "keep me");
  s.Write("C:\\OLD\\access.ini", "me too");
  FaultInjectionEnv faulty(s.env());
  faulty.FailFirst("Append", kErrorDiskFull);
  RestoreJournal journal(faulty);
  ASSERT_TRUE(journal.Open(kBackup, kSpool));
  journal.MoveToBackup("C:\\OLD\\lum.ini", "lum.ini");
  EXPECT_FALSE(journal.Commit());
  journal.MoveToBackup("C:\\OLD\\access.ini", "access.ini");
  EXPECT_FALSE(journal.Close());
  EXPECT_EQ(s.Read("C:\\OLD\\lum.ini"), "keep me");
  EXPECT_EQ(s.Read("C:\\OLD\\access.ini"), "me too");
  EXPECT_FALSE(s.Exists("C:\\Setup\\Backup\\access.ini"));
  EXPECT_EQ(journal.FilesBackedUp(), 0);
  EXPECT_NE(s.Messages().find("Error writing the restore script"), std::string::npos)
      << s.Messages();
}

namespace {

// Watches the order in which the journal makes things durable: a line may
// reach restore.bat only once every copy made before it is flushed, and a
// source may go only once restore.bat has been flushed after its line.
class DurabilityOrder : public EnvWrapper {
 public:
  using EnvWrapper::EnvWrapper;
  bool CopyFileTo(const std::string& from, const std::string& to, bool failIfExists) override {
    if (!EnvWrapper::CopyFileTo(from, to, failIfExists)) return false;
    unflushed.insert(to);
    return true;
  }
  bool FlushFiles(const std::vector<std::string>& paths) override {
    for (const std::string& path : paths) unflushed.erase(path);
    return EnvWrapper::FlushFiles(paths);
  }
  bool RemoveFile(const std::string& path) override {
    if (!scriptSynced) ++deletesBeforeTheirLines;
    return EnvWrapper::RemoveFile(path);
  }
  bool RenameFile(const std::string& from, const std::string& to) override {
    events += "rename ";
    return EnvWrapper::RenameFile(from, to);
  }
  std::unique_ptr<WritableFile> CreateWritable(const std::string& path) override {
    events += "create ";
    std::unique_ptr<WritableFile> file = EnvWrapper::CreateWritable(path);
    return file ? std::make_unique<Watched>(*this, std::move(file)) : nullptr;
  }

  std::set<std::string> unflushed;
  bool scriptSynced = true;
  int linesBeforeTheirCopies = 0;
  int deletesBeforeTheirLines = 0;
  std::string events;

 private:
  class Watched : public WritableFile {
   public:
    Watched(DurabilityOrder& order, std::unique_ptr<WritableFile> inner)
        : order_(order), inner_(std::move(inner)) {}
    bool Append(std::string_view data) override {
      if (!order_.unflushed.empty()) ++order_.linesBeforeTheirCopies;
      order_.scriptSynced = false;
      return inner_->Append(data);
    }
    bool Sync() override {
      order_.scriptSynced = true;
      return inner_->Sync();
    }
    bool Close() override { return inner_->Close(); }

   private:
    DurabilityOrder& order_;
    std::unique_ptr<WritableFile> inner_;
  };
};

}  // namespace

// Over several groups, and with lines enough to fill any buffer: every
// line follows its durable copy, every delete its durable line.
TEST_F(MoveToBackupTest, LinesFollowDurableCopiesAndDeletesFollowDurableLines) {
  s.Write("C:\\Setup\\Backup\\restore.bat", "earlier run\r\n");
  constexpr int kMoves = 1100;  // over two groups
  for (int i = 0; i < kMoves; ++i) s.Write("C:\\OLD\\cf" + std::to_string(i) + ".ini", "job");
  s.Write("C:\\Setup\\Spool\\df1", "data");
  DurabilityOrder order(s.env());
  RestoreJournal journal(order);
  ASSERT_TRUE(journal.Open(kBackup, kSpool));
  for (int i = 0; i < kMoves; ++i) {
    journal.MoveToBackup("C:\\OLD\\cf" + std::to_string(i) + ".ini", "A-" + std::to_string(i));
    if (i == 300) order.unflushed.insert("C:\\Setup\\Spool\\df1");
    if (i == 300) journal.AddJobFileCopyLine("C:\\Setup\\Spool\\df1", "C:\\OLD\\df1");
  }
  EXPECT_TRUE(journal.Close());
  EXPECT_EQ(order.linesBeforeTheirCopies, 0);
  EXPECT_EQ(order.deletesBeforeTheirLines, 0);
  // The earlier script is renamed (durably) before the new one is made.
  EXPECT_EQ(order.events, "rename create ");
  EXPECT_EQ(s.Read("C:\\Setup\\Backup\\restore.bat.1"), "earlier run\r\n");
  EXPECT_TRUE(s.List("C:\\OLD").empty());
  EXPECT_EQ(journal.FilesBackedUp(), kMoves);
  EXPECT_EQ(journal.LinesWritten(), kMoves + 1);
}

// A line of an earlier run whose file never came (the old installation
// named a missing file) keeps its backup name: given to another file, that
// line would bring the other file's text back to a place it never was.
TEST_F(MoveToBackupTest, NamesOfEarlierLinesStayTakenThoughTheirFilesNeverCame) {
  s.Write("C:\\Setup\\Backup\\restore.bat",
          "copy/y winlum.ini C:\\WINDOWS\\lum.ini\r\ncopy/y LUM.INI C:\\OLD\\lum.ini\r\n");
  s.Write("C:\\Setup\\Backup\\restore.bat.1", "copy/y Q-1 C:\\OLD\\Q\\cf1.ini\r\n");
  s.Write("C:\\OLD2\\lum.ini", "second installation");
  s.Write("C:\\OLD2\\Q\\cf1.ini", "job");
  journal().MoveToBackup("C:\\OLD2\\lum.ini", "lum.ini");
  journal().MoveToBackup("C:\\OLD2\\Q\\cf1.ini", "Q-1");
  journal().MoveToBackup("C:\\OLD2\\gone.ini", "winlum.ini");
  EXPECT_EQ(Script(),
            "copy/y lum.ini~2 C:\\OLD2\\lum.ini\r\n"
            "copy/y Q-1~2 C:\\OLD2\\Q\\cf1.ini\r\n"
            "copy/y winlum.ini~2 C:\\OLD2\\gone.ini\r\n");
  EXPECT_FALSE(s.Exists("C:\\Setup\\Backup\\lum.ini"));
  EXPECT_EQ(s.Read("C:\\Setup\\Backup\\lum.ini~2"), "second installation");
}

// A queue may be called anything: its profile never takes the name of one
// of the run's own files, which a later run would rename or run as a script.
TEST_F(MoveToBackupTest, BackupsNeverTakeTheNamesOfTheRunsOwnFiles) {
  for (const char* name : {"restore.bat", "RESTORE.REG", "CheckLUM.log", "restore.bat.7"}) {
    s.Write(std::string("C:\\OLD\\") + name + "\\queue.ini", name);
    journal().MoveToBackup(std::string("C:\\OLD\\") + name + "\\queue.ini", name);
  }
  EXPECT_EQ(Script(),
            "copy/y restore.bat~2 C:\\OLD\\restore.bat\\queue.ini\r\n"
            "copy/y RESTORE.REG~2 C:\\OLD\\RESTORE.REG\\queue.ini\r\n"
            "copy/y CheckLUM.log~2 C:\\OLD\\CheckLUM.log\\queue.ini\r\n"
            "copy/y restore.bat.7~2 C:\\OLD\\restore.bat.7\\queue.ini\r\n");
}

// A gap in the kept scripts does not put the newest one below an older one.
TEST_F(MoveToBackupTest, KeptScriptTakesTheNumberAboveTheHighest) {
  s.Write("C:\\Setup\\Backup\\restore.bat", "third run\r\n");
  s.Write("C:\\Setup\\Backup\\restore.bat.1", "first run\r\n");
  s.Write("C:\\Setup\\Backup\\restore.bat.3", "second run\r\n");
  journal().Close();
  EXPECT_EQ(s.Read("C:\\Setup\\Backup\\restore.bat.4"), "third run\r\n");
  EXPECT_FALSE(s.Exists("C:\\Setup\\Backup\\restore.bat.2"));
}

namespace {

class CompareCounter : public EnvWrapper {
 public:
  using EnvWrapper::EnvWrapper;
  int CompareFileNames(std::string_view a, std::string_view b) override {
    ++compares;
    return EnvWrapper::CompareFileNames(a, b);
  }
  long compares = 0;
};

}  // namespace

// One queue whose jobs all share a sequence number wants one backup name
// thousands of times: each name costs a few comparisons, not one per
// name given before it.
TEST(BackupNamesTest, ManyFilesWantingOneNameCostLinearTime) {
  Scenario s;
  CompareCounter counter(s.env());
  BackupNames names(counter);
  names.Load("C:\\Setup\\Backup", "");
  std::string last;
  for (int i = 0; i < 4000; ++i) {
    last = names.Unused("Q-1");
    names.Take(last);
  }
  EXPECT_EQ(last, "Q-1~4000");
  EXPECT_LT(counter.compares, 4000 * 64);
}
