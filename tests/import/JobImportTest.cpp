// The job phase: control profiles become job-list entries and job keys, data
// files go to the spool directory with their restore lines, and nothing a
// control profile names ever leads out of the spool or backup directory.
#include <gtest/gtest.h>

#include "app/CheckLUMDlg.h"
#include "platform/portable/files/HostFile.h"
#include "platform/portable/profile/ProfileService.h"
#include "support/Scenario.h"

namespace {

constexpr const char* kAlphaJobs = "SOFTWARE\\Tandrel\\LUM\\Queues\\Alpha\\Jobs";

class JobImportTest : public ::testing::Test {
 protected:
  JobImportTest() {
    s.Write("C:\\WINDOWS\\lum.ini", "[Settings]\r\nIni=C:\\OLD\\lum.ini\r\n");
    s.Write("C:\\OLD\\lum.ini",
            "[Queues]\r\nq=Alpha\r\n[Alpha]\r\nqueuedir=C:\\OLD\\Q\r\n"
            "[Beta]\r\nqueuedir=C:\\OLD\\B\r\n");
    s.Write("C:\\OLD\\Q\\queue.ini", "[Settings]\r\nType=1\r\n");
  }
  void AddBeta() {
    s.Write("C:\\OLD\\lum.ini",
            "[Queues]\r\nq=Alpha\r\nr=Beta\r\n[Alpha]\r\nqueuedir=C:\\OLD\\Q\r\n"
            "[Beta]\r\nqueuedir=C:\\OLD\\B\r\n");
    s.Write("C:\\OLD\\B\\queue.ini", "[Settings]\r\nType=2\r\n");
  }
  // A control profile in queue directory `dir` with `settings` and `files`
  // (lines without their line ends).
  void Job(const std::string& dir, const std::string& name, const std::string& settings,
           const std::string& files = "") {
    s.Write(dir + "\\" + name, "[Settings]\r\n" + settings + "[Files]\r\n" + files);
  }
  void Run() { ASSERT_TRUE(s.RunWorkStep()) << s.Messages(); }
  std::string Script() { return s.Read("C:\\Setup\\Backup\\restore.bat").value_or("<missing>"); }
  std::optional<std::string> JobText(const std::string& job, const char* name) {
    return s.Text("SOFTWARE\\Tandrel\\LUM\\Jobs\\" + job, name);
  }
  Scenario s;
};

TEST_F(JobImportTest, JobWithOneDataFile) {
  s.Write("C:\\OLD\\Q\\dfA123host", "data");
  Job("C:\\OLD\\Q", "cf123.ini",
      "Seqno=123\r\nControlFileName=cfA123host\r\nDataFiles=1\r\nUser=maria\r\n",
      "File1=ldfA123host\r\ndfA123host=C:\\OLD\\Q\\dfA123host\r\n");
  Run();
  EXPECT_EQ(s.Text(kAlphaJobs, "123"), "cfA123host");
  const std::string job = "SOFTWARE\\Tandrel\\LUM\\Jobs\\cfA123host";
  EXPECT_EQ(s.Value(job, "Seqno"), (RegValue{kRegDword, DwordBytes(123)}));
  EXPECT_EQ(s.Value(job, "DataFiles"), (RegValue{kRegDword, DwordBytes(1)}));
  EXPECT_EQ(JobText("cfA123host", "Data1"), "dfA123host");
  EXPECT_EQ(JobText("cfA123host", "dfA123host"), "dfA123host");
  EXPECT_EQ(JobText("cfA123host", "File1"), "ldfA123host");
  EXPECT_EQ(JobText("cfA123host", "QueueName"), "Alpha");
  EXPECT_EQ(JobText("cfA123host", "User"), "maria");
  EXPECT_FALSE(s.Value(job, "ControlFileName").has_value());
  EXPECT_EQ(s.Read("C:\\Setup\\Spool\\dfA123host"), "data");
  EXPECT_EQ(s.Read("C:\\OLD\\Q\\dfA123host"), "data");  // the original stays
  EXPECT_FALSE(s.Exists("C:\\OLD\\Q\\cf123.ini"));
  EXPECT_TRUE(s.Exists("C:\\Setup\\Backup\\Alpha-123"));
  EXPECT_NE(Script().find("copy/y \"C:\\Setup\\Spool\\dfA123host\" \"C:\\OLD\\Q\\dfA123host\"\r\n"
                          "copy/y Alpha-123 C:\\OLD\\Q\\cf123.ini\r\n"),
            std::string::npos)
      << Script();
}

// A read-only data file is spooled as a writable copy, and a read-only copy
// an earlier run left in the spool directory is replaced; the original stays
// as it was.
TEST_F(JobImportTest, ReadOnlyDataFilesAndSpooledCopiesAreNoObstacle) {
  s.Write("C:\\OLD\\Q\\dfA123host", "data");
  s.Write("C:\\OLD\\Q\\dfA124host", "new");
  s.Write("C:\\Setup\\Spool\\dfA124host", "old");
  s.Write("C:\\OLD\\Q\\dfA125host", "newer");
  s.Write("C:\\Setup\\Spool\\dfA125host", "older");
  MakeReadOnly(s.root / "C" / "OLD" / "Q" / "dfA123host");
  MakeReadOnly(s.root / "C" / "Setup" / "Spool" / "dfA124host");
  Job("C:\\OLD\\Q", "cf123.ini", "Seqno=123\r\nControlFileName=cfA123host\r\nDataFiles=1\r\n",
      "File1=ldfA123host\r\ndfA123host=C:\\OLD\\Q\\dfA123host\r\n");
  Job("C:\\OLD\\Q", "cf124.ini", "Seqno=124\r\nControlFileName=cfA124host\r\nDataFiles=1\r\n",
      "File1=ldfA124host\r\ndfA124host=C:\\OLD\\Q\\dfA124host\r\n");
  Job("C:\\OLD\\Q", "cf125.ini", "Seqno=125\r\nControlFileName=cfA125host\r\nDataFiles=1\r\n",
      "File1=ldfA125host\r\ndfA125host=C:\\OLD\\Q\\dfA125host\r\n");
  Run();
  EXPECT_EQ(s.Read("C:\\Setup\\Spool\\dfA123host"), "data");
  EXPECT_EQ(s.Read("C:\\Setup\\Spool\\dfA124host"), "new");
  EXPECT_EQ(s.Read("C:\\Setup\\Spool\\dfA125host"), "newer");
  EXPECT_FALSE(IsReadOnly(s.root / "C" / "Setup" / "Spool" / "dfA123host"));
  EXPECT_TRUE(IsReadOnly(s.root / "C" / "OLD" / "Q" / "dfA123host"));
  EXPECT_EQ(s.Read("C:\\OLD\\Q\\dfA123host"), "data");
  EXPECT_FALSE(s.Exists("C:\\OLD\\Q\\cf124.ini"));
  EXPECT_EQ(JobText("cfA124host", "dfA124host"), "dfA124host");
}

TEST_F(JobImportTest, DataFilesFoundByTheirDataEntryOrMissing) {
  s.Write("C:\\OLD\\Q\\dfA1", "one");
  s.Write("C:\\OLD\\Q\\dfB1", "two");
  Job("C:\\OLD\\Q", "cf1.ini", "Seqno=1\r\nControlFileName=cfA1\r\nDataFiles=3\r\n",
      "File1=ldfA1\r\nData1=C:\\OLD\\Q\\dfA1\r\nFile2=ldfB1\r\ndfB1=\r\nData2=C:\\OLD\\Q\\dfB1\r\n"
      "File3=ldfC1\r\ndfC1=C:\\OLD\\Q\\gone\r\n");
  Run();
  EXPECT_EQ(JobText("cfA1", "Data1"), "dfA1");
  EXPECT_EQ(JobText("cfA1", "Data2"), "dfB1");
  // A data file that is gone keeps its old path, and nothing is said.
  EXPECT_EQ(JobText("cfA1", "dfC1"), "C:\\OLD\\Q\\gone");
  EXPECT_FALSE(s.Exists("C:\\Setup\\Spool\\dfC1"));
  EXPECT_EQ(Script().find("gone"), std::string::npos);
  EXPECT_EQ(s.Messages(), "");
}

TEST_F(JobImportTest, JobsWithoutDataFilesAreStillImported) {
  Job("C:\\OLD\\Q", "cf1.ini", "Seqno=1\r\nControlFileName=cfA1\r\nDataFiles=0\r\n",
      "File1=ldfA1\r\nData1=C:\\OLD\\Q\\dfA1\r\n");
  s.Write("C:\\OLD\\Q\\cf2.ini", "[Settings]\r\nSeqno=2\r\nControlFileName=cfA2\r\n");
  Run();
  EXPECT_EQ(s.Text(kAlphaJobs, "1"), "cfA1");
  EXPECT_EQ(s.Text(kAlphaJobs, "2"), "cfA2");
  EXPECT_EQ(JobText("cfA1", "Data1"), "C:\\OLD\\Q\\dfA1");
  EXPECT_TRUE(s.List("C:\\Setup\\Spool").empty());
}

TEST_F(JobImportTest, DigitOnlyQueueNameIsStoredAsNumber) {
  s.Write("C:\\OLD\\lum.ini", "[Queues]\r\nq=42\r\n[42]\r\nqueuedir=C:\\OLD\\Q\r\n");
  Job("C:\\OLD\\Q", "cf1.ini", "Seqno=1\r\nControlFileName=cfA1\r\n");
  Run();
  EXPECT_EQ(s.Value("SOFTWARE\\Tandrel\\LUM\\Jobs\\cfA1", "QueueName"),
            (RegValue{kRegDword, DwordBytes(42)}));
}

// One job's data never replaces another's: the later job keeps its old path
// and restore.bat never copies one job's data over another's.
TEST_F(JobImportTest, DataFileNameAlreadySpooledIsNotCopiedAgain) {
  AddBeta();
  s.Write("C:\\OLD\\Q\\dfSame", "alpha's");
  s.Write("C:\\OLD\\B\\dfSame", "beta's");
  Job("C:\\OLD\\Q", "cf1.ini", "Seqno=1\r\nControlFileName=cfA1\r\nDataFiles=1\r\n",
      "File1=ldfSame\r\nData1=C:\\OLD\\Q\\dfSame\r\n");
  Job("C:\\OLD\\B", "cf2.ini", "Seqno=2\r\nControlFileName=cfB2\r\nDataFiles=1\r\n",
      "File1=lDFSAME\r\nData1=C:\\OLD\\B\\dfSame\r\n");
  Run();
  EXPECT_EQ(s.Read("C:\\Setup\\Spool\\dfSame"), "alpha's");
  EXPECT_EQ(JobText("cfA1", "Data1"), "dfSame");
  EXPECT_EQ(JobText("cfB2", "Data1"), "C:\\OLD\\B\\dfSame");
  EXPECT_EQ(Script().find("C:\\OLD\\B\\dfSame"), std::string::npos) << Script();
  EXPECT_NE(s.Messages().find("already lies in the spool directory"), std::string::npos)
      << s.Messages();
}

TEST_F(JobImportTest, NamesThatAreNoFileNamesLeadNowhere) {
  s.Write("C:\\OLD\\Q\\df1", "data");
  Job("C:\\OLD\\Q", "cf1.ini",
      "Seqno=..\\..\\WINDOWS\\x\r\nControlFileName=cfA1\r\nDataFiles=2\r\n",
      "File1=l..\\..\\WINDOWS\\evil\r\nData1=C:\\OLD\\Q\\df1\r\nFile2=lC:df\r\nData2=C:"
      "\\OLD\\Q\\df1\r\n");
  Run();
  // The data file names are not used as paths, the Seqno not as a backup name.
  EXPECT_FALSE(s.Exists("C:\\WINDOWS\\evil"));
  EXPECT_FALSE(s.Exists("C:\\WINDOWS\\x"));
  EXPECT_TRUE(s.List("C:\\Setup\\Spool").empty());
  EXPECT_EQ(JobText("cfA1", "Data1"), "C:\\OLD\\Q\\df1");
  EXPECT_EQ(s.Read("C:\\OLD\\Q\\cf1.ini").has_value(), true);  // the control profile stays
  EXPECT_NE(s.Messages().find("is not a valid file name. It is not copied"), std::string::npos)
      << s.Messages();
  EXPECT_NE(s.Messages().find("is not a valid file name. The file stays where it is."),
            std::string::npos)
      << s.Messages();
}

// restore.bat could not name a data file whose path holds a character the
// command prompt's code page lacks: it is not spooled, and the job keeps
// its path. One the code page holds is spooled as any other.
TEST_F(JobImportTest, DataFileThatRestoreCannotNameKeepsItsPath) {
  s.Write("C:\\OLD\\Q\\df\xD8", "oslash");
  s.Write("C:\\OLD\\Q\\df\xE9", "eacute");
  Job("C:\\OLD\\Q", "cf1.ini", "Seqno=1\r\nControlFileName=cfA1\r\nDataFiles=2\r\n",
      "File1=ldf\xD8\r\nData1=C:\\OLD\\Q\\df\xD8\r\nFile2=ldf\xE9\r\nData2=C:\\OLD\\Q\\df\xE9\r\n");
  Run();
  EXPECT_EQ(JobText("cfA1", "Data1"), "C:\\OLD\\Q\\df\xD8");
  EXPECT_EQ(JobText("cfA1", "Data2"), "df\xE9");
  EXPECT_EQ(s.List("C:\\Setup\\Spool"), std::vector<std::string>{"df\xE9"});
  EXPECT_NE(Script().find("copy/y \"C:\\Setup\\Spool\\df\x82\" \"C:\\OLD\\Q\\df\x82\"\r\n"),
            std::string::npos)
      << Script();
  EXPECT_NE(s.Messages().find("C:\\OLD\\Q\\df\xD8 stays where it is"), std::string::npos)
      << s.Messages();
}

TEST_F(JobImportTest, JobWithoutControlFileNameStaysInItsQueue) {
  Job("C:\\OLD\\Q", "cf1.ini", "Seqno=1\r\n");
  Run();
  EXPECT_TRUE(s.Exists("C:\\OLD\\Q\\cf1.ini"));
  EXPECT_FALSE(s.Value(kAlphaJobs, "1").has_value());
  EXPECT_FALSE(s.KeyExists("SOFTWARE\\Tandrel\\LUM\\Jobs"));
  EXPECT_NE(s.Messages().find("has no ControlFileName"), std::string::npos) << s.Messages();
}

TEST_F(JobImportTest, DataFilesInTheSpoolOrBackupDirectoryAreNotCopied) {
  s.Write("C:\\Setup\\Spool\\dfOld", "spooled earlier");
  Job("C:\\OLD\\Q", "cf1.ini", "Seqno=1\r\nControlFileName=cfA1\r\nDataFiles=1\r\n",
      "File1=ldfNew\r\nData1=c:\\setup\\spool\\dfOld\r\n");
  Run();
  EXPECT_FALSE(s.Exists("C:\\Setup\\Spool\\dfNew"));
  EXPECT_EQ(Script().find("dfOld"), std::string::npos) << Script();
  EXPECT_NE(s.Messages().find("It is not copied"), std::string::npos) << s.Messages();
}

TEST_F(JobImportTest, HugeDataFileCountCostsNothing) {
  s.Write("C:\\OLD\\Q\\df1", "data");
  Job("C:\\OLD\\Q", "cf1.ini", "Seqno=1\r\nControlFileName=cfA1\r\nDataFiles=2147483647\r\n",
      "File1=ldf1\r\nData1=C:\\OLD\\Q\\df1\r\n");
  Run();
  EXPECT_EQ(s.Read("C:\\Setup\\Spool\\df1"), "data");
}

// A control profile the profile functions cannot read (here: beyond the
// size they read) would import as an empty job and its settings would be
// lost with the move: it is neither imported nor moved, and the user is told.
TEST_F(JobImportTest, UnreadableControlProfileStaysAndIsReported) {
  s.Write("C:\\OLD\\Q\\cf1.ini", "[Settings]\r\nSeqno=1\r\nControlFileName=cfA1\r\n" +
                                     std::string(ProfileService::kMaxFileBytes, ';'));
  Job("C:\\OLD\\Q", "cf2.ini", "Seqno=2\r\nControlFileName=cfA2\r\n");
  Run();
  EXPECT_TRUE(s.Exists("C:\\OLD\\Q\\cf1.ini"));
  EXPECT_FALSE(s.KeyExists("SOFTWARE\\Tandrel\\LUM\\Jobs\\cfA1"));
  EXPECT_EQ(s.Text(kAlphaJobs, "2"), "cfA2");
  EXPECT_NE(
      s.Messages().find("The profile C:\\OLD\\Q\\cf1.ini cannot be read:\nNot enough memory."),
      std::string::npos)
      << s.Messages();
}

TEST_F(JobImportTest, UnreadableMainProfileStaysAndTheRestGoesOn) {
  s.Write("C:\\OLD\\lum.ini",
          "[Settings]\r\nPort=515\r\n" + std::string(ProfileService::kMaxFileBytes, ';'));
  Run();
  EXPECT_TRUE(s.Exists("C:\\OLD\\lum.ini"));
  EXPECT_FALSE(s.Value("SOFTWARE\\Tandrel\\LUM", "Port").has_value());
  EXPECT_EQ(Script(), "copy/y winlum.ini C:\\WINDOWS\\lum.ini\r\n");
  EXPECT_NE(s.Messages().find("cannot be read"), std::string::npos) << s.Messages();
}

TEST_F(JobImportTest, AFolderNamedLikeAControlProfileIsNoJob) {
  s.MakeDirectory("C:\\OLD\\Q\\cfdir.ini");
  Run();
  EXPECT_EQ(s.Messages(), "");
  EXPECT_FALSE(s.KeyExists(kAlphaJobs));
}

}  // namespace

namespace {

class JobNameTest : public JobImportTest {};

// Two queues' jobs with one ControlFileName would share Jobs\<name>: the
// first stays whole, the second stays in its queue, and the counts say so.
TEST_F(JobNameTest, SecondJobWithATakenControlFileNameStaysInItsQueue) {
  AddBeta();
  Job("C:\\OLD\\Q", "cf1.ini", "Seqno=1\r\nControlFileName=cfA1host\r\nUser=alpha\r\n");
  Job("C:\\OLD\\B", "cf1.ini", "Seqno=1\r\nControlFileName=CFA1HOST\r\nUser=beta\r\n");
  CCheckLUMDlg dlg(s.env());
  ASSERT_TRUE(dlg.RunWorkStep()) << s.Messages();
  EXPECT_EQ(JobText("cfA1host", "User"), "alpha");
  EXPECT_EQ(JobText("cfA1host", "QueueName"), "Alpha");
  EXPECT_FALSE(s.Text("SOFTWARE\\Tandrel\\LUM\\Queues\\Beta\\Jobs", "1").has_value());
  EXPECT_TRUE(s.Exists("C:\\OLD\\B\\cf1.ini"));
  EXPECT_FALSE(s.Exists("C:\\OLD\\Q\\cf1.ini"));
  EXPECT_EQ(dlg.run.counts.jobs, 1);
  EXPECT_NE(s.Messages().find("has the ControlFileName CFA1HOST of a job already imported"),
            std::string::npos)
      << s.Messages();
}

// A job whose key cannot be made is not listed in its queue either.
TEST_F(JobNameTest, JobWhoseKeyCannotBeMadeIsNotListed) {
  Job("C:\\OLD\\Q", "cf1.ini", "Seqno=1\r\nControlFileName=" + std::string(300, 'x') + "\r\n");
  Run();
  EXPECT_FALSE(s.Text(kAlphaJobs, "1").has_value());
  EXPECT_TRUE(s.Exists("C:\\OLD\\Q\\cf1.ini"));
}

}  // namespace
