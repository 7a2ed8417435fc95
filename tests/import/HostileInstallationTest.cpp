// Hostile old installations: names that try to lead out of the backup and
// spool directories or name devices, queue directories that are the
// import's own, profiles that are folders, garbage, huge or wide, sections
// of many keys, long values and paths, a setup directory full of characters
// cmd interprets. Whatever the installation, the run ends, writes nothing but
// its own directories and the files it moves away, loses nothing, says so
// where it skips something, and the restore chain brings back every file.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "app/CheckLUMDlg.h"
#include "support/Scenario.h"

namespace {

struct HostileCase {
  const char* name;
  std::function<void(Scenario&)> build;
  const char* message;  // a text the user must be shown; null: nothing need be said
};

// The pointer profile, and a main profile with one queue named `queue` in
// C:\OLD\Q, holding one job whose Seqno and data file name are given.
void QueueInstallation(Scenario& s, const std::string& queue, const std::string& seqno = "1",
                       const std::string& dataFile = "df1") {
  s.Write("C:\\WINDOWS\\lum.ini", "[Settings]\r\nIni=C:\\OLD\\lum.ini\r\n");
  s.Write("C:\\OLD\\lum.ini", "[Settings]\r\nPort=515\r\n[Queues]\r\nq=" + queue + "\r\n[" + queue +
                                  "]\r\nqueuedir=C:\\OLD\\Q\r\n");
  s.Write("C:\\OLD\\Q\\queue.ini", "[Settings]\r\nType=1\r\n");
  s.Write("C:\\OLD\\Q\\cf1.ini",
          "[Settings]\r\nSeqno=" + seqno +
              "\r\nControlFileName=cfA1\r\nDataFiles=1\r\n[Files]\r\nFile1=l" + dataFile +
              "\r\nData1=C:\\OLD\\Q\\df1\r\n");
  s.Write("C:\\OLD\\Q\\df1", "data");
}

// A queue whose directory is `directory`, holding a queue profile and a job.
void QueueIn(Scenario& s, const std::string& directory) {
  s.Write("C:\\WINDOWS\\lum.ini", "[Settings]\r\nIni=C:\\OLD\\lum.ini\r\n");
  s.Write("C:\\OLD\\lum.ini", "[Queues]\r\nq=Q\r\n[Q]\r\nqueuedir=" + directory + "\r\n");
  s.Write(directory + "\\queue.ini", "[Settings]\r\nType=1\r\n");
  s.Write(directory + "\\cf7.ini",
          "[Settings]\r\nSeqno=7\r\nControlFileName=cfA7\r\nDataFiles=1\r\n[Files]\r\n"
          "File1=ldf7\r\nData1=" +
              directory + "\\df7\r\n");
  s.Write(directory + "\\df7", "data");
}

void MainProfile(Scenario& s, const std::string& content) {
  s.Write("C:\\WINDOWS\\lum.ini", "[Settings]\r\nIni=C:\\OLD\\lum.ini\r\n");
  s.Write("C:\\OLD\\lum.ini", content);
}

std::string ManyKeys(int keys) {
  std::string text = "[Settings]\r\n";
  for (int k = 0; k < keys; ++k)
    text += "Key" + std::to_string(k) + "=" + std::to_string(k) + "\r\n";
  return text;
}

const std::vector<HostileCase>& Cases() {
  static const std::vector<HostileCase> cases = {
      {"queue name leading out", [](Scenario& s) { QueueInstallation(s, "..\\..\\WINDOWS\\evil"); },
       "is not a valid file name"},
      {"queue name of a device", [](Scenario& s) { QueueInstallation(s, "CON"); },
       "is not a valid file name"},
      {"queue name with a trailing dot", [](Scenario& s) { QueueInstallation(s, "Alpha."); },
       "is not a valid file name"},
      {"queue name with a trailing blank", [](Scenario& s) { QueueInstallation(s, "Alpha "); },
       nullptr},  // the profile functions trim it: the queue is "Alpha"
      {"seqno leading out", [](Scenario& s) { QueueInstallation(s, "A", "..\\..\\x"); },
       "is not a valid file name"},
      // A-NUL names no device: the job is imported and moved as usual.
      {"seqno of a device", [](Scenario& s) { QueueInstallation(s, "A", "NUL"); }, nullptr},
      {"seqno with a colon", [](Scenario& s) { QueueInstallation(s, "A", "1:2"); },
       "is not a valid file name"},
      {"data file name leading out",
       [](Scenario& s) { QueueInstallation(s, "A", "1", "..\\..\\WINDOWS\\x"); },
       "It is not copied"},
      {"data file name of a device", [](Scenario& s) { QueueInstallation(s, "A", "1", "COM1"); },
       "It is not copied"},
      {"data file name with a trailing dot",
       [](Scenario& s) { QueueInstallation(s, "A", "1", "df1."); }, "It is not copied"},
      {"queue in the Windows directory", [](Scenario& s) { QueueIn(s, "C:\\WINDOWS"); }, nullptr},
      {"queue in the setup directory", [](Scenario& s) { QueueIn(s, "C:\\Setup"); }, nullptr},
      {"queue in the backup directory", [](Scenario& s) { QueueIn(s, "C:\\Setup\\Backup"); },
       "It is not moved"},
      {"queue in the spool directory", [](Scenario& s) { QueueIn(s, "C:\\Setup\\Spool"); },
       "It is not moved"},
      {"main profile that is a folder",
       [](Scenario& s) {
         s.Write("C:\\WINDOWS\\lum.ini", "[Settings]\r\nIni=C:\\OLD\\lum.ini\r\n");
         s.MakeDirectory("C:\\OLD\\lum.ini");
         s.Write("C:\\OLD\\access.ini", "[Settings]\r\nDefault=1\r\n");
       },
       "cannot be read"},
      {"queue profile that is a folder",
       [](Scenario& s) {
         QueueInstallation(s, "A");
         s.Write("C:\\OLD\\Q\\queue.ini", "");
         std::filesystem::remove(s.root / "C" / "OLD" / "Q" / "queue.ini");
         s.MakeDirectory("C:\\OLD\\Q\\queue.ini");
       },
       "does not exist"},
      {"binary garbage",
       [](Scenario& s) {
         std::string junk;
         for (int i = 0; i < 100000; ++i) junk += static_cast<char>((i * 7919) >> 3);
         MainProfile(s, junk);
         s.Write("C:\\OLD\\styles.ini", junk);
       },
       nullptr},
      {"UTF-16 profiles",
       [](Scenario& s) {
         std::string wide = "\xFF\xFE";
         for (char c : std::string("[Settings]\r\nPort=515\r\n[Queues]\r\nq=A\r\n")) {
           wide += c;
           wide += '\0';
         }
         MainProfile(s, wide);
       },
       nullptr},
      {"a 10 MB profile",
       [](Scenario& s) { MainProfile(s, ManyKeys(10) + std::string(10 << 20, ';') + "\r\n"); },
       nullptr},
      {"10,000 keys in one section", [](Scenario& s) { MainProfile(s, ManyKeys(10000)); }, nullptr},
      {"a value of 100,000 characters",
       [](Scenario& s) {
         MainProfile(s, "[Settings]\r\nLong=" + std::string(100000, 'v') + "\r\nPort=515\r\n");
       },
       nullptr},
      {"paths of 1,000 characters",
       [](Scenario& s) {
         std::string deep = "C:\\OLD";
         while (deep.size() < 1000) deep += "\\" + std::string(60, 'd');
         s.Write("C:\\WINDOWS\\lum.ini", "[Settings]\r\nIni=" + deep + "\\lum.ini\r\n");
         s.Write(deep + "\\lum.ini", "[Settings]\r\nPort=515\r\n");
         s.Write(deep + "\\access.ini", "[Settings]\r\nDefault=1\r\n");
       },
       nullptr},
      {"a setup directory full of characters cmd interprets",
       [](Scenario& s) {
         s.options.programPath = "C:\\Set&up %PATH%^ (1)\\CheckLUM.exe";
         s.MakeDirectory("C:\\Set&up %PATH%^ (1)");
         QueueInstallation(s, "A&B %x% (1)^");
       },
       nullptr},
  };
  return cases;
}

class HostileInstallation : public testing::TestWithParam<size_t> {};

TEST_P(HostileInstallation, NothingLeavesTheImageNothingIsLostAndEverythingComesBack) {
  const HostileCase& c = Cases()[GetParam()];
  SCOPED_TRACE(c.name);
#ifdef _WIN32
  // The test's own file walks stop at the host's path limit.
  if (std::string(c.name) == "paths of 1,000 characters") GTEST_SKIP();
#endif
  Scenario s;
  c.build(s);
  const std::string setup = s.options.programPath.substr(0, s.options.programPath.rfind('\\'));
  const auto before = OldFiles(s, setup);
  bool ok;
  {
    CCheckLUMDlg dlg(s.env());
    ok = dlg.RunWorkStep();
  }
  s.Reset();
  EXPECT_TRUE(ok) << s.Messages();
  // Outside its own directories the run only takes files away, and each of
  // them it can bring back.
  for (const auto& [path, content] : OldFiles(s, setup)) {
    auto was = before.find(path);
    EXPECT_TRUE(was != before.end() && was->second == content) << path << " was written";
  }
  ExpectNothingLost(s, before, setup);
  if (c.message != nullptr) {
    EXPECT_NE(s.Messages().find(c.message), std::string::npos) << s.Messages();
  }
  EXPECT_TRUE(RunRestoreChain(s, setup + "\\Backup"));
  EXPECT_EQ(OldFiles(s, setup), before);
}

INSTANTIATE_TEST_SUITE_P(Corpus, HostileInstallation, testing::Range<size_t>(0, Cases().size()),
                         [](const testing::TestParamInfo<size_t>& info) {
                           std::string name;
                           for (char c : std::string(Cases()[info.param].name)) {
                             name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                           }
                           return name;
                         });

}  // namespace
