// restore.reg: every registry change of a run has its way back on disk
// before it is made, and the undo chain gives back the registry of before.
#include <gtest/gtest.h>

#include "app/CheckLUMDlg.h"
#include "import/RegistryUndo.h"
#include "platform/portable/registry/RegistryFile.h"
#include "platform/portable/registry/RegistryImport.h"
#include "platform/testing/FaultInjectionEnv.h"
#include "support/Scenario.h"

namespace {

const char* const kBackup = "C:\\Setup\\Backup";
const char* const kUninstall =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\LUM Print Spooler";

void SetValue(Scenario& s, const std::string& path, const char* name, uint32_t type,
              const std::string& data) {
  s.CreateKey(path);
  RegKey key = 0;
  ASSERT_EQ(s.env().OpenKey(kHKeyLocalMachine, path.c_str(), &key), 0u);
  s.env().SetValue(key, name, type, reinterpret_cast<const uint8_t*>(data.data()),
                   static_cast<uint32_t>(data.size()));
  s.env().CloseKey(key);
}

// A machine on which the new release's setup has already made the product
// key with values of its own, one of which a general setting replaces.
void WriteMachine(Scenario& s) {
  WriteTypicalInstallation(s);
  s.Write("C:\\Setup\\dellum.exe", "uninstaller");
  SetValue(s, kUninstall, "UninstallString", kRegSz, std::string("C:\\OLD\\UNINST.EXE\0", 18));
  SetValue(s, "SOFTWARE\\Tandrel\\LUM", "Port", kRegDword, DwordBytes(9100));
  SetValue(s, "SOFTWARE\\Tandrel\\LUM", "InstallDir", kRegSz, std::string("C:\\Setup\0", 9));
  s.Reset();
}

TEST(RegistryUndoTest, ValueLinesReadBackAsTheSameTypeAndBytes) {
  const std::vector<RegistryValue> values = {
      {u"Path", kRegSz, std::string("C:\\a \"b\"\0", 10)},
      {u"", kRegSz, std::string("default\0", 8)},
      {u"NoNul", kRegSz, "no terminating NUL"},
      {u"Lines", kRegSz, std::string("one\r\ntwo\0", 9)},
      {u"Port", kRegDword, DwordBytes(0x1234abcd)},
      {u"Bytes", kRegBinary, std::string(60, '\x1b')},
      {u"List", 7, std::string("a\0b\0\0", 5)},
      {u"Empty", kRegBinary, ""},
      {u"Odd", 0x12345, "x"},
  };
  std::string file = "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\K]\r\n";
  for (const RegistryValue& value : values) {
    std::string name(value.name.begin(), value.name.end());
    file += RegistryUndo::ValueLine(name, value.type, value.data);
  }
  RegistryKeyNode root;
  std::string error;
  ASSERT_TRUE(ParseRegistryFile(file, &root, &error)) << error << "\n" << file;
  const RegistryKeyNode* key = root.FindSubkey(std::u16string_view(u"K"));
  ASSERT_NE(key, nullptr);
  for (const RegistryValue& value : values) {
    const RegistryValue* read = key->FindValue(value.name);
    ASSERT_NE(read, nullptr) << std::string(value.name.begin(), value.name.end());
    EXPECT_EQ(read->type, value.type);
    // String data is kept as UTF-16LE; ASCII text widens byte by byte.
    std::string bytes = value.data;
    if (IsRegistryStringType(value.type))
      bytes = Utf16LeBytes(std::u16string(bytes.begin(), bytes.end()));
    EXPECT_EQ(read->data, bytes) << std::string(value.name.begin(), value.name.end());
  }
}

TEST(RegistryUndoTest, UndoChainGivesBackTheRegistryOfBeforeEveryRun) {
  Scenario s;
  WriteMachine(s);
  const std::string before = RegistryContents(s.root / "HKLM.reg");
  ASSERT_TRUE(s.RunWorkStep());
  s.Reset();
  ASSERT_NE(RegistryContents(s.root / "HKLM.reg"), before);

  // Keys the run made go whole; values it replaced or added in keys that
  // were there come back one by one.
  std::string undo = *s.Read(std::string(kBackup) + "\\restore.reg");
  EXPECT_EQ(undo.rfind("REGEDIT4\r\n", 0), 0u);
  EXPECT_NE(undo.find("\"UninstallString\"=\"C:\\\\OLD\\\\UNINST.EXE\""), std::string::npos);
  EXPECT_NE(undo.find("\"Port\"=dword:0000238c"), std::string::npos) << undo;
  EXPECT_NE(undo.find("[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Tandrel\\LUM\\CurrentJobs]"),
            std::string::npos)
      << undo;
  EXPECT_EQ(undo.find("InstallDir"), std::string::npos) << "a value the run left alone";

  // A second run, after the queues were taken away, keeps the first run's
  // file as restore.reg.1; the chain, newest first, undoes both.
  s.Write("C:\\WINDOWS\\lum.ini", "[Settings]\r\nIni=C:\\OLD\\lum.ini\r\n");
  s.Write("C:\\OLD\\lum.ini", "[Settings]\r\nPort=516\r\n");
  ASSERT_TRUE(s.RunWorkStep());
  s.Reset();
  EXPECT_TRUE(s.Exists(std::string(kBackup) + "\\restore.reg.1"));
  ASSERT_TRUE(ApplyUndoChain(s, kBackup, s.root / "HKLM.reg"));
  EXPECT_EQ(RegistryContents(s.root / "HKLM.reg"), before);
}

// A power cut just after restore.reg was made leaves it empty, or with part
// of its first line: no entry was durable, so no change had been made.
TEST(RegistryUndoTest, UndoFileCutShortBeforeItsHeaderIsPassedOver) {
  Scenario s;
  WriteMachine(s);
  const std::string before = RegistryContents(s.root / "HKLM.reg");
  s.Write(std::string(kBackup) + "\\restore.reg", "");
  s.Write(std::string(kBackup) + "\\restore.reg.1", "REGED");
  s.Write(std::string(kBackup) + "\\restore.reg.2",
          "REGEDIT4\r\n\r\n[-HKEY_LOCAL_MACHINE\\SOFTWARE]\r\n");
  EXPECT_TRUE(ApplyUndoChain(s, kBackup, s.root / "HKLM.reg"));
  EXPECT_EQ(RegistryContents(s.root / "HKLM.reg"), "REGEDIT4\r\n\r\n") << "only .2 applied";
  EXPECT_NE(before, "REGEDIT4\r\n\r\n");
}

// A power cut between an entry's append and its flush can leave the start
// of it: that entry stands for a change never made and is passed over, in
// an earlier run's file too. An entry that is faulty before the last one is
// still refused, so nothing of the chain is applied.
TEST(RegistryUndoTest, TornLastEntryIsPassedOverAndNothingElse) {
  const std::string entries =
      "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tandrel\\LUM]\r\n\"Port\"=dword:00000203\r\n";
  for (const std::string torn :
       {"\r\n[-HKEY_LOCAL_MACHI",
        "\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tandrel\\LUM]\r\n\"Port\"=dword:0000",
        "\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tandrel\\LUM]\r\n\"Port\"=hex:01,02,\\\r\n"}) {
    SCOPED_TRACE(torn);
    Scenario s;
    WriteMachine(s);
    s.Write(std::string(kBackup) + "\\restore.reg", "REGEDIT4\r\n" + torn);
    s.Write(std::string(kBackup) + "\\restore.reg.1", entries + torn);
    EXPECT_TRUE(ApplyUndoChain(s, kBackup, s.root / "HKLM.reg"));
    s.Discard();  // read the registry file anew
    EXPECT_EQ(s.Value("SOFTWARE\\Tandrel\\LUM", "Port"), (RegValue{kRegDword, DwordBytes(515)}));
  }
  Scenario s;
  WriteMachine(s);
  const std::string before = RegistryContents(s.root / "HKLM.reg");
  s.Write(std::string(kBackup) + "\\restore.reg",
          "REGEDIT4\r\n\r\n[-HKEY_LOCAL_MACHI\r\n" + entries.substr(10));
  std::string error;
  EXPECT_FALSE(ImportRegistryFiles(
      s.root / "HKLM.reg", {s.env().HostPath(std::string(kBackup) + "\\restore.reg")}, &error));
  EXPECT_NE(error.find("must end with"), std::string::npos) << error;
  EXPECT_EQ(RegistryContents(s.root / "HKLM.reg"), before);
}

// A value set twice in one run comes back as it was before the run, not as
// the first change left it.
TEST(RegistryUndoTest, ValueSetTwiceComesBackAsBeforeTheRun) {
  Scenario s;
  SetValue(s, "SOFTWARE\\Tandrel\\LUM", "Port", kRegDword, DwordBytes(9100));
  s.Reset();
  const std::string before = RegistryContents(s.root / "HKLM.reg");
  {
    RegistryUndo undo(s.env());
    undo.SetBackupDirectory(kBackup);
    RegKey key = 0;
    ASSERT_EQ(undo.CreateKey(kHKeyLocalMachine, "SOFTWARE\\Tandrel\\LUM", &key, nullptr), 0u);
    for (uint32_t port : {515u, 516u}) {
      std::string data = DwordBytes(port);
      EXPECT_EQ(
          undo.SetValue(key, "Port", kRegDword, reinterpret_cast<const uint8_t*>(data.data()), 4),
          0u);
    }
    undo.CloseKey(key);
    EXPECT_EQ(undo.EntriesWritten(), 1);
  }
  s.Reset();
  ASSERT_TRUE(ApplyUndoChain(s, kBackup, s.root / "HKLM.reg"));
  EXPECT_EQ(RegistryContents(s.root / "HKLM.reg"), before);
}

TEST(RegistryUndoTest, RunThatChangesNothingWritesNoUndoFile) {
  Scenario s;
  WriteMachine(s);
  ASSERT_TRUE(s.RunWorkStep());
  s.Reset();
  std::string first = *s.Read(std::string(kBackup) + "\\restore.reg");
  // The queues exist now: the run declines, and the hand-over is done.
  SetValue(s, "SOFTWARE\\Tandrel\\LUM\\Queues\\Q", "Type", kRegDword, DwordBytes(1));
  s.Reset();
  EXPECT_FALSE(s.RunWorkStep());
  EXPECT_EQ(*s.Read(std::string(kBackup) + "\\restore.reg"), first);
  EXPECT_FALSE(s.Exists(std::string(kBackup) + "\\restore.reg.1"));
}

TEST(RegistryUndoTest, ChangeWhoseWayBackCannotBeWrittenIsNotMade) {
  Scenario s;
  WriteMachine(s);
  const std::string before = RegistryContents(s.root / "HKLM.reg");
  const auto files = s.Files();
  {
    FaultInjectionEnv faulty(s.env());
    faulty.FailFirst("CreateWritable", kErrorDiskFull);  // restore.reg
    CCheckLUMDlg dlg(faulty);
    EXPECT_FALSE(dlg.RunWorkStep());
  }
  s.Reset();
  EXPECT_EQ(RegistryContents(s.root / "HKLM.reg"), before);
  EXPECT_EQ(OldFiles(s), files) << "nothing moved";
  EXPECT_NE(s.Messages().find("cannot be recorded in C:\\Setup\\\\Backup\\restore.reg"),
            std::string::npos)
      << s.Messages();
  // Shown once, not for every change refused.
  EXPECT_EQ(s.Messages().find("cannot be recorded", s.Messages().find("cannot be recorded") + 1),
            std::string::npos);
}

}  // namespace
