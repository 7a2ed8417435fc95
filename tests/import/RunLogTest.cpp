// CheckLUM.log: what a run did, the one record left once the dialog has
// closed by itself.
#include <gtest/gtest.h>

#include "app/CheckLUMDlg.h"
#include "import/RunLog.h"
#include "platform/testing/FaultInjectionEnv.h"
#include "support/Scenario.h"

namespace {

const char* const kLog = "C:\\Setup\\Backup\\CheckLUM.log";

bool Holds(const std::string& log, const std::string& line) {
  return log.find(line + "\r\n") != std::string::npos;
}

TEST(RunLogTest, RecordsWhatWasWrittenMovedAndShownAndTheResult) {
  Scenario s;
  WriteTypicalInstallation(s);
  // A queue whose directory is gone: a message box.
  s.Write("C:\\OLD\\lum.ini", *s.Read("C:\\OLD\\lum.ini") +
                                  "[Queues]\r\nQueue1=GONE\r\n[GONE]\r\nqueuedir=C:\\NOWHERE\r\n");
  std::vector<RunEvent> events;
  {
    CCheckLUMDlg dlg(s.env());
    dlg.log.SetObserver([&](const RunEvent& event) { events.push_back(event); });
    ASSERT_TRUE(dlg.RunWorkStep());
  }
  std::string log = *s.Read(kLog);
  EXPECT_TRUE(Holds(log, "key created     HKEY_LOCAL_MACHINE\\SOFTWARE\\Tandrel\\LUM")) << log;
  EXPECT_TRUE(Holds(log,
                    "value written   HKEY_LOCAL_MACHINE\\SOFTWARE\\Tandrel\\LUM\\\"Port\" = "
                    "REG_DWORD 515"))
      << log;
  EXPECT_TRUE(Holds(log,
                    "value written   HKEY_LOCAL_MACHINE\\SOFTWARE\\Tandrel\\LUM\\\"Language\" "
                    "= REG_SZ \"English\""))
      << log;
  // A move is the copy under its backup name and the delete.
  EXPECT_TRUE(Holds(log, "file copied     C:\\OLD\\lum.ini -> C:\\Setup\\\\Backup\\lum.ini"));
  EXPECT_TRUE(Holds(log, "file deleted    C:\\OLD\\lum.ini"));
  EXPECT_TRUE(Holds(log, "working on      C:\\OLD\\lum.ini"));
  EXPECT_TRUE(Holds(log, "message shown   Queue GONE: directory 'C:\\NOWHERE' does not exist!"))
      << log;
  EXPECT_EQ(log.rfind("result          OK, but not everything was carried over (see the "
                      "messages above): 0 queues and 0 jobs imported"),
            log.find("result"))
      << "the result comes once, at the end";
  // The observer sees the same facts, line for line.
  std::string seen;
  for (const RunEvent& event : events) seen += event.line + "\r\n";
  EXPECT_EQ(seen, log);

  // A second run keeps the first run's log.
  s.RunWorkStep();
  EXPECT_EQ(*s.Read(std::string(kLog) + ".1"), log);
  EXPECT_NE(s.Read(kLog)->find("result          "), std::string::npos);
}

// A disk that fills up during the run: the lines written before it did are
// in the log, and the log knows it lacks the rest.
TEST(RunLog, ADiskThatFillsUpKeepsTheLinesWrittenBefore) {
  long secondCopy = -1;
  {
    Scenario s;
    WriteTypicalInstallation(s);
    FaultInjectionEnv counting(s.env());
    CCheckLUMDlg dlg(counting);
    dlg.RunWorkStep();
    const auto& operations = counting.Operations();
    int copies = 0;
    for (size_t i = 0; i < operations.size() && secondCopy < 0; ++i) {
      if (std::string(operations[i]) == "CopyFileTo" && ++copies == 2) secondCopy = i;
    }
  }
  ASSERT_GT(secondCopy, 0);
  Scenario s;
  WriteTypicalInstallation(s);
  FaultInjectionEnv faulty(s.env());
  faulty.FailFrom(secondCopy, kErrorDiskFull);  // from the second copy on, for the log too
  CCheckLUMDlg dlg(faulty);
  dlg.RunWorkStep();
  const std::string log = s.Read(kLog).value_or("");
  EXPECT_TRUE(Holds(log, "file copied     C:\\WINDOWS\\lum.ini -> C:\\Setup\\\\Backup\\winlum.ini"))
      << log;
  EXPECT_FALSE(dlg.log.Complete());
}

// System texts that disturb the last error on their way, as FormatMessage
// may: the log looks one up for every failure it records.
class NoisyTexts : public EnvWrapper {
 public:
  using EnvWrapper::EnvWrapper;
  bool SystemMessage(uint32_t code, std::string* text) override {
    bool found = EnvWrapper::SystemMessage(code, text);
    SetLastErrorCode(kErrorMrMidNotFound);
    return found;
  }
};

TEST(RunLogTest, LoggingLeavesTheFailureCodeTheCallerReads) {
  Scenario s;
  s.Write("C:\\a.ini", "a");
  FaultInjectionEnv faulty(s.env());
  faulty.FailFirst("CopyFileTo", kErrorDiskFull);
  NoisyTexts noisy(faulty);
  RunLog log(noisy);
  log.SetBackupDirectory("C:\\Setup\\Backup");
  EXPECT_FALSE(log.CopyFileTo("C:\\a.ini", "C:\\b.ini", false));
  EXPECT_EQ(log.LastError(), kErrorDiskFull);
  log.Finish("done");
  EXPECT_NE(s.Read(kLog)->find("not done        C:\\a.ini -> C:\\b.ini: "), std::string::npos);
}

TEST(RunLogTest, DataIsShownByItsType) {
  EXPECT_EQ(RunLog::DataText(kRegSz, std::string("a|b\0", 4)), "REG_SZ \"a|b\"");
  EXPECT_EQ(RunLog::DataText(kRegSz, "line\r\nbreak"), "REG_SZ \"line | break\"");
  EXPECT_EQ(RunLog::DataText(kRegDword, DwordBytes(4294967295u)), "REG_DWORD 4294967295");
  EXPECT_EQ(RunLog::DataText(kRegBinary, "\x1b\x40"), "REG_BINARY 2 bytes: 1b 40");
  EXPECT_EQ(RunLog::DataText(kRegBinary, ""), "REG_BINARY 0 bytes");
  EXPECT_EQ(RunLog::DataText(kRegSz, std::string("a\0b\0", 4)), "REG_SZ 4 bytes: 61 00 62 00");
  std::string text = RunLog::DataText(kRegBinary, std::string(100, '\x01'));
  EXPECT_EQ(text.substr(text.size() - 7), " 01 ...") << "long data is cut";
  EXPECT_EQ(RunLog::DataText(99, "x"), "type 99 1 bytes: 78");
}

}  // namespace
