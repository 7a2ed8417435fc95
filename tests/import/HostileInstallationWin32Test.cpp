// Names that Windows reads as something else: on the real services a backup
// named CON would be written to the console and the queue's profile lost,
// and a name with a trailing dot would land under another name.
#include <gtest/gtest.h>

#include "app/CheckLUMDlg.h"
#include "support/WindowsMachine.h"

namespace {

Installation QueueNamed(const std::string& queue, const std::string& dataFile) {
  Installation installation{"hostile names", {}, {}, {}, {}};
  installation.files = {
      {"WINDOWS\\lum.ini", "[Settings]\r\nIni={ROOT}\\OLD\\lum.ini\r\n"},
      {"OLD\\lum.ini",
       "[Queues]\r\nq=" + queue + "\r\n[" + queue + "]\r\nqueuedir={ROOT}\\OLD\\Q\r\n"},
      {"OLD\\Q\\queue.ini", "[Settings]\r\nType=1\r\n"},
      {"OLD\\Q\\cf1.ini",
       "[Settings]\r\nSeqno=1\r\nControlFileName=cfA1\r\nDataFiles=1\r\n[Files]\r\nFile1=l" +
           dataFile + "\r\nData1={ROOT}\\OLD\\Q\\df1\r\n"},
      {"OLD\\Q\\df1", "data"},
      {"Setup\\readme.txt", "new release"}};
  return installation;
}

TEST(HostileInstallationWin32, DeviceNamesAndTrailingDotsLeadNowhere) {
  for (const auto& [queue, dataFile] : {std::pair<std::string, std::string>{"CON", "COM1"},
                                        {"Alpha.", "df1."},
                                        {"lpt1.txt", "nul.dat"}}) {
    SCOPED_TRACE(queue + " / " + dataFile);
    WindowsMachine machine("HWT");
    Installation installation = QueueNamed(queue, dataFile);
    machine.Install(installation);
    {
      CCheckLUMDlg dlg(machine.env);
      EXPECT_TRUE(dlg.RunWorkStep());
    }
    Tree after = machine.Read();
    EXPECT_EQ(after["OLD\\Q\\queue.ini"], "[Settings]\r\nType=1\r\n");
    EXPECT_EQ(after["OLD\\Q\\df1"], "data");
    EXPECT_NE(machine.env.messages.find("is not a valid file name"), std::string::npos)
        << machine.env.messages;
    machine.RunRestoreChain();
    Tree restored = machine.Read();
    for (const auto& [relative, content] : installation.files) {
      EXPECT_EQ(restored[relative], WithRoot(content, "{ROOT}")) << relative;
    }
  }
}

}  // namespace
