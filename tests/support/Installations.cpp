#include "support/Installations.h"

#include <fstream>

namespace {

const char* const kPointer = "[Settings]\r\nIni={ROOT}\\Old Files\\lum.ini\r\n";
const char* const kUninstall = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const char* const kProduct = "SOFTWARE\\Tandrel\\LUM";

std::string Job(const std::string& seqno, int dataFiles, const std::string& files) {
  return "[Settings]\r\nSeqno=" + seqno + "\r\nControlFileName=cfA" + seqno +
         "\r\nDataFiles=" + std::to_string(dataFiles) + "\r\n[Files]\r\n" + files;
}

// The pointer and main profile of an installation without queues, the setup
// directory with the new uninstaller, and `more`.
Tree Basic(Tree more, bool uninstaller = true) {
  more.emplace("WINDOWS\\lum.ini", kPointer);
  more.emplace("Old Files\\lum.ini", "[Settings]\r\nPort=515\r\n");
  more.emplace("Setup\\readme.txt", "new release\r\n");
  if (uninstaller) more.emplace("Setup\\dellum.exe", "uninstaller\r\n");
  return more;
}

std::pair<std::string, std::string> Product(const std::string& key, const std::string& name) {
  return {std::string(kProduct) + (key.empty() ? "" : "\\" + key), name};
}

std::pair<std::string, std::string> Command(const std::string& entry) {
  return {kUninstall + entry, "UninstallString"};
}

std::vector<Installation> Make() {
  std::vector<Installation> all;
  all.push_back({"general settings only",
                 {{"WINDOWS\\lum.ini", kPointer},
                  {"Old Files\\lum.ini",
                   "[Settings]\r\nPort=515\r\nName=LUM 100%\r\nBig=4294967295\r\n"
                   "[LogOptions]\r\nLogLevel=2\r\n[Security]\r\nCheckHosts=1\r\n"
                   "[WindowPos]\r\nDesktop size=640,480\r\n"
                   "[CurrentJobs]\r\n{ROOT}\\Old Files\\Q\\cf1.ini=1\r\n"},
                  {"Old Files\\Q\\cf1.ini", "[Settings]\r\nControlFileName=J1\r\n"},
                  {"Setup\\readme.txt", "new release\r\n"}},
                 {},
                 {Product("", "Port"), Product("", "Name"), Product("", "Big"),
                  Product("", "LogLevel"), Product("", "CheckHosts"), Product("", "Desktop size"),
                  Product("", "Main"), Product("CurrentJobs", "J1")},
                 {}});
  all.push_back({"queues and jobs",
                 Basic({{"Old Files\\lum.ini",
                         "[Queues]\r\n1=Alpha\r\n2=Beta\r\n3=NoDir\r\n4=NoProfile\r\n5=Shared\r\n"
                         "[Alpha]\r\nqueuedir={ROOT}\\Old Files\\A\r\ncfdir=C:\\CF\r\n"
                         "[Beta]\r\nqueuedir={ROOT}\\Old Files\\B\\\r\n"
                         "[NoDir]\r\nqueuedir={ROOT}\\Old Files\\Missing\r\n"
                         "[NoProfile]\r\nqueuedir={ROOT}\\Old Files\\Empty\r\n"
                         "[Shared]\r\nqueuedir={ROOT}\\Old Files\\A\r\n"},
                        {"Old Files\\A\\queue.ini",
                         "[Settings]\r\nType=1\r\nInsertBytes=2\r\n[Bytes]\r\nInsertBytes=1B 40\r\n"
                         "ModeBytes=1B4\r\n[Margins]\r\nTop=5\r\nLeft=2.5\r\n"
                         "[Font]\r\nFaceName=Courier New\r\nHeight=-13\r\n"},
                        {"Old Files\\A\\cf1.ini", Job("1", 0, "")},
                        {"Old Files\\A\\cf2.ini",
                         Job("2", 1, "File1=ldfA2\r\ndfA2={ROOT}\\Old Files\\A\\dfA2\r\n")},
                        {"Old Files\\A\\dfA2", "alpha data"},
                        {"Old Files\\B\\queue.ini", "[Settings]\r\nType=2\r\n"},
                        {"Old Files\\B\\cf3.ini",
                         Job("3", 3,
                             "File1=ldfA3\r\nData1={ROOT}\\Old Files\\B\\dfA3\r\nFile2=ldfB3\r\n"
                             "Data2={ROOT}\\Old Files\\B\\dfB3\r\nFile3=ldfC3\r\n"
                             "Data3={ROOT}\\Old Files\\B\\gone\r\n")},
                        {"Old Files\\B\\dfA3", "beta one"},
                        {"Old Files\\B\\dfB3", "beta two"},
                        {"Old Files\\Empty\\readme.txt", "no queue here"}}),
                 {},
                 {Product("Queues\\Alpha", "Type"),        Product("Queues\\Alpha", "bInsertBytes"),
                  Product("Queues\\Alpha", "InsertBytes"), Product("Queues\\Alpha", "ModeBytes"),
                  Product("Queues\\Alpha", "Top"),         Product("Queues\\Alpha", "Left"),
                  Product("Queues\\Alpha", "cfdir"),       Product("Queues\\Alpha", "Font"),
                  Product("Queues\\Alpha\\Jobs", "1"),     Product("Queues\\Alpha\\Jobs", "2"),
                  Product("Queues\\Beta\\Jobs", "3"),      Product("Jobs\\cfA1", "QueueName"),
                  Product("Jobs\\cfA2", "Data1"),          Product("Jobs\\cfA2", "dfA2"),
                  Product("Jobs\\cfA3", "Data1"),          Product("Jobs\\cfA3", "Data2"),
                  Product("Jobs\\cfA3", "Data3"),          Product("Jobs\\cfA3", "DataFiles"),
                  Product("Queues\\NoDir", "Type"),        Product("Queues\\Shared", "Type")},
                 {},
                 3});
  all.push_back(
      {"re-run over an installation without queues",
       Basic({}),
       {},
       {Product("", "Port")},
       {{"WINDOWS\\lum.ini", kPointer}, {"Old Files\\lum.ini", "[Settings]\r\nPort=516\r\n"}}});
  all.push_back(
      {"all five table profiles",
       Basic({{"Old Files\\access.ini",
               "[Settings]\r\nDefault=1\r\n[Hostnames]\r\npc1=1\r\n[IP Rules]\r\n"
               "Rule1=10.0.0.0/8 allow\r\n[Host Rules]\r\npc1=Alpha\r\n"},
              {"Old Files\\translat.ini",
               "[Tables]\r\nt1=Latin\r\nt2=Latin\r\nt3=\r\n[Latin]\r\n41=61\r\n"},
              {"Old Files\\styles.ini",
               "[Styles]\r\nDraft=Fast\r\nBare=No section\r\n"
               "[Draft]\r\nCharsPerInch=15\r\nModeBytes=1B 78 00\r\n"},
              {"Old Files\\protocol.ini", "[Protocols]\r\nP1=LPD\r\nP2=\r\n[LPD]\r\nPort=515\r\n"},
              {"Old Files\\ebcdic.ini",
               "[LangID]\r\nDE=273\r\n[LangNames]\r\nDE=German\r\nXX=\r\n[DE]\r\n4A=C4\r\n"
               "[XX]\r\n5=5\r\n"}}),
       {},
       {Product("Access", "Default"), Product("Access\\Hostnames", "pc1"),
        Product("Access\\IP Rules", "Rule1"), Product("Access\\Host Rules", "pc1"),
        Product("Translation\\Latin", "41"), Product("Styles", "Draft"),
        Product("Styles\\Draft", "CharsPerInch"), Product("Styles\\Draft", "ModeBytes"),
        Product("Styles\\Bare", ""), Product("Protocols\\LPD", "Port"),
        Product("EBCDIC\\LangID", "DE"), Product("EBCDIC\\LangNames", "DE"),
        Product("EBCDIC\\LangNames", "XX"), Product("EBCDIC\\DE", "4A"),
        Product("EBCDIC\\XX", "5")},
       {}});
  all.push_back(
      {"only protocol.ini",
       Basic({{"Old Files\\PROTOCOL.INI", "[Protocols]\r\nP=Raw\r\n[Raw]\r\nPort=9100\r\n"}}),
       {},
       {Product("Protocols\\Raw", "Port"), Product("Access", "Default")},
       {}});
  all.push_back({"an empty access.ini",
                 Basic({{"Old Files\\access.ini", ""}}),
                 {},
                 {Product("Access\\IP Rules", ""), Product("Access\\Host Rules", "")},
                 {}});
  all.push_back({"uninstall entry handed over",
                 Basic({}),
                 {{"LUM Print Spooler", "C:\\LUM\\UNINST.EXE -f C:\\LUM\\uninst.log"}},
                 {Command("LUM Print Spooler"), Product("", "UninstallString")},
                 {}});
  all.push_back({"two LUM entries",
                 Basic({}),
                 {{"LUM 1", "C:\\LUM1\\uninst.exe"}, {"LUM 2", "C:\\LUM2\\uninst.exe"}},
                 {Command("LUM 1"), Command("LUM 2"), Product("", "UninstallString")},
                 {}});
  all.push_back({"a lower-case lum entry",
                 Basic({}),
                 {{"lum spooler", "C:\\LUM\\uninst.exe"}},
                 {Command("lum spooler"), Product("", "UninstallString")},
                 {}});
  all.push_back({"an entry already handed over",
                 Basic({}),
                 {{"LUM", "C:\\SETUP\\DELLUM.EXE"}},
                 {Command("LUM"), Product("", "UninstallString")},
                 {}});
  all.push_back({"a 30-character command",
                 Basic({}),
                 {{"LUM", "C:\\LUM\\uninstall-program30.exe"}},
                 {Command("LUM"), Product("", "UninstallString")},
                 {}});
  // Queue names beyond ASCII, in the profiles' code page 1252: a hive keeps
  // them in UTF-16, sorted and hashed by their upper-case form.
  all.push_back({"queues named beyond ASCII",
                 Basic({{"Old Files\\lum.ini",
                         "[Queues]\r\n1=B\xFCro\r\n2=\xC4rger\r\n3=Zulu\r\n"
                         "[B\xFCro]\r\nqueuedir={ROOT}\\Old Files\\B\r\n"
                         "[\xC4rger]\r\nqueuedir={ROOT}\\Old Files\\C\r\n"
                         "[Zulu]\r\nqueuedir={ROOT}\\Old Files\\Z\r\n"},
                        {"Old Files\\B\\queue.ini", "[Settings]\r\nType=1\r\n"},
                        {"Old Files\\B\\cf1.ini",
                         Job("1", 1, "File1=ldfA1\r\ndfA1={ROOT}\\Old Files\\B\\dfA1\r\n")},
                        {"Old Files\\B\\dfA1", "data for B\xFCro"},
                        {"Old Files\\C\\queue.ini", "[Settings]\r\nType=2\r\n"},
                        {"Old Files\\Z\\queue.ini", "[Settings]\r\nType=3\r\n"}}),
                 {},
                 {Product("Queues\\B\xFCro", "Type"), Product("Queues\\B\xFCro\\Jobs", "1"),
                  Product("Queues\\\xC4rger", "Type"), Product("Queues\\Zulu", "Type"),
                  Product("Jobs\\cfA1", "QueueName")},
                 {}});
  all.push_back({"a missing uninstaller",
                 Basic({}, false),
                 {{"LUM", "C:\\LUM\\uninst.exe"}},
                 {Command("LUM"), Product("", "UninstallString")},
                 {}});
  return all;
}

Installation MakeRepresentative() {
  Installation representative{"representative", {}, {{"LUM", "C:\\LUM\\uninst.exe"}}, {}, {}};
  Tree& files = representative.files;
  files["WINDOWS\\lum.ini"] = "[Settings]\r\nIni={ROOT}\\LUM\\lum.ini\r\n";
  std::string main =
      "[Settings]\r\nPort=515\r\n[CurrentJobs]\r\n{ROOT}\\LUM\\Q1\\cf1.ini=1\r\n[Queues]\r\n";
  std::string sections;
  int seqno = 0;
  for (int q = 1; q <= 3; ++q) {
    std::string name = "Q" + std::to_string(q), dir = "LUM\\" + name;
    main += "q" + std::to_string(q) + "=" + name + "\r\n";
    sections += "[" + name + "]\r\nqueuedir={ROOT}\\" + dir + "\r\n";
    files[dir + "\\queue.ini"] = "[Settings]\r\nType=" + std::to_string(q) +
                                 "\r\n[Bytes]\r\nInsertBytes=1B40\r\n[Margins]\r\nTop=1\r\n"
                                 "[Font]\r\nFaceName=Courier New\r\n";
    for (int j = 0; j < (q == 1 ? 4 : 3); ++j) {
      std::string id = std::to_string(++seqno);
      int dataFiles = 1 + seqno % 2;
      std::string list;
      for (int f = 1; f <= dataFiles; ++f) {
        std::string data = "df" + std::string(1, static_cast<char>('A' + f - 1)) + id;
        list += "File" + std::to_string(f) + "=l" + data + "\r\nData" + std::to_string(f) +
                "={ROOT}\\" + dir + "\\" + data + "\r\n";
        files[dir + "\\" + data] = "data of job " + id;
      }
      files[dir + "\\cf" + id + ".ini"] = "[Settings]\r\nSeqno=" + id + "\r\nControlFileName=cfA" +
                                          id + "\r\nDataFiles=" + std::to_string(dataFiles) +
                                          "\r\nUser=u\r\n[Files]\r\n" + list;
    }
  }
  files["LUM\\lum.ini"] = main + sections;
  files["LUM\\access.ini"] = "[Settings]\r\nDefault=1\r\n[Hostnames]\r\npc=1\r\n";
  files["LUM\\translat.ini"] = "[Tables]\r\nt=Latin\r\n[Latin]\r\n41=61\r\n";
  files["LUM\\styles.ini"] = "[Styles]\r\nDraft=Fast\r\n[Draft]\r\nCharsPerInch=15\r\n";
  files["LUM\\protocol.ini"] = "[Protocols]\r\nP=LPD\r\n[LPD]\r\nPort=515\r\n";
  files["LUM\\ebcdic.ini"] = "[LangID]\r\nDE=273\r\n[LangNames]\r\nDE=German\r\n[DE]\r\n4A=C4\r\n";
  files["Setup\\dellum.exe"] = "uninstaller";
  return representative;
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  if (from.empty()) return text;
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

}  // namespace

const std::vector<Installation>& Installations() {
  static const std::vector<Installation> all = Make();
  return all;
}

const Installation& RepresentativeInstallation() {
  static const Installation representative = MakeRepresentative();
  return representative;
}

std::string WithRoot(std::string text, const std::string& root) {
  return Replace(std::move(text), "{ROOT}", root);
}

std::string WithoutRoot(std::string text, const std::string& root) {
  return Replace(std::move(text), root, "{ROOT}");
}

std::filesystem::path TreePath(const std::string& relative, const std::string& windowsFolder) {
  std::string path = relative;
  if (path.rfind("WINDOWS\\", 0) == 0) path.replace(0, 7, windowsFolder);
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  return path;
}

void WriteTree(const std::filesystem::path& drive, const Tree& tree,
               const std::string& windowsFolder) {
  for (const auto& [relative, content] : tree) {
    std::filesystem::path file = drive / TreePath(relative, windowsFolder);
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << WithRoot(content, "C:");
  }
}

std::string UninstallEntriesFile(const Installation& installation) {
  std::string file = "REGEDIT4\r\n\r\n";
  for (const UninstallEntry& entry : installation.uninstallEntries) {
    file += "[HKEY_LOCAL_MACHINE\\" + std::string(kUninstall) + entry.name + "]\r\n";
    file += "\"UninstallString\"=\"" + Replace(entry.command, "\\", "\\\\") + "\"\r\n\r\n";
  }
  return file;
}
