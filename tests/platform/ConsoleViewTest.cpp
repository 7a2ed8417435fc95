#include <gtest/gtest.h>

#include <sstream>

#include "platform/portable/ConsoleView.h"

TEST(ConsoleView, PlainLinesAreWrittenOnlyWhenTheyChange) {
  std::ostringstream progress;
  {
    ConsoleView view(&progress, nullptr, false, "CheckLUM");
    view.Show("Importing file", "C:\\WINDOWS\\lum.ini");
    view.Show("Importing file", "C:\\WINDOWS\\lum.ini");
    view.Show("Importing file", "C:\\OLD\\lum.ini");
    view.Show("Importing file", "C:\\OLD\\bad\x1b[2Jname.ini");
  }
  EXPECT_EQ(progress.str(),
            "Importing file\n  C:\\WINDOWS\\lum.ini\n  C:\\OLD\\lum.ini\n"
            "  C:\\OLD\\bad?[2Jname.ini\n");
}

TEST(ConsoleView, TerminalLineIsRewrittenInPlace) {
  std::ostringstream progress, messages;
  {
    ConsoleView view(&progress, &messages, true, "CheckLUM");
    view.Show("Importing file", "C:\\OLD\\lum.ini");
    view.Show("Importing file", "C:\\A");
    view.Message("Stop");
    view.Show("Importing file", "C:\\" + std::string(100, 'x'));
  }
  std::string long79 = "..." + std::string(76, 'x');
  EXPECT_EQ(progress.str(), "\rImporting file C:\\OLD\\lum.ini\rImporting file C:\\A" +
                                std::string(10, ' ') + "\rImporting file C:\\A\n\r" + long79 +
                                "\n");
  EXPECT_EQ(messages.str(), "CheckLUM: Stop\n");
}

TEST(ConsoleView, MessagesKeepTheirLinesAndNeverWait) {
  std::ostringstream messages;
  ConsoleView view(nullptr, &messages, false, "CheckLUM");
  view.Message("Error getting Windows directory:\nPath not found.\r\n");
  view.Message("Error writing to profile C:\\x.ini:\r\nAccess denied.");
  EXPECT_EQ(messages.str(),
            "CheckLUM: Error getting Windows directory:\nPath not found.\n"
            "CheckLUM: Error writing to profile C:\\x.ini:\nAccess denied.\n");
}
