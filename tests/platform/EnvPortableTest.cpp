// The portable backend: Windows paths inside the image, searches, the system
// services and the image's registry file.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <filesystem>
#include <fstream>

#include "platform/WinError.h"
#include "platform/portable/EnvPortable.h"
#include "platform/portable/files/HostFile.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace {

class EnvPortableTest : public ::testing::Test {
 protected:
  EnvPortableTest() {
    image.Write("C/Old/Lum.INI", "[Settings]\r\nPort=515\r\n");
    image.MakeFolder("C/WINDOWS");
    image.MakeFolder("C/Setup");
    options.image = image.path();
  }
  EnvPortable& env() {
    if (!env_) env_ = std::make_unique<EnvPortable>(options);
    return *env_;
  }
  // The names a search finds, in its order; the error code when it fails.
  std::string Find(const std::string& pattern) {
    FoundFile found;
    std::unique_ptr<FileSearch> search = env().FindFirst(pattern, &found);
    if (!search) return "error " + std::to_string(env().LastError());
    std::string names;
    do {
      names += (names.empty() ? "" : " ") + found.name;
    } while (search->Next(&found));
    return names;
  }

  TempDir image;
  PortableOptions options;
  std::unique_ptr<EnvPortable> env_;
};

TEST_F(EnvPortableTest, PathsAreMatchedWithoutRegardToCase) {
  fs::path lum = image / "C/Old/Lum.INI";
  EXPECT_EQ(env().HostPath("c:\\old\\LUM.ini"), lum);
  EXPECT_EQ(env().HostPath("C:\\\\Old\\\\\\Lum.INI"), lum);
  EXPECT_EQ(env().HostPath("C:/OLD/lum.ini"), lum);
  EXPECT_EQ(env().HostPath("C:\\OLD\\lum.ini. "), lum);  // trailing dots and blanks dropped
  // A new file keeps the name given, in the folder's on-disk spelling.
  EXPECT_EQ(env().HostPath("C:\\OLD\\NewFile.TXT"), image / "C/Old/NewFile.TXT");
  EXPECT_EQ(env().HostPath("C:\\"), image / "C");
}

#ifndef _WIN32
// A folder found once is not walked again, but a folder that was swapped
// for a link to the outside afterwards, or removed, is noticed all the same.
TEST_F(EnvPortableTest, FolderFoundOnceAndThenSwappedForALinkIsRefused) {
  TempDir outside;
  outside.Write("Old/Lum.INI", "[Settings]\r\nPort=9999\r\n");
  char buffer[16];
  ASSERT_EQ(
      env().ProfileReadString("Settings", "Port", "", buffer, sizeof buffer, "C:\\Old\\Lum.INI"),
      3u);
  ASSERT_TRUE(env().CopyFileTo("C:\\Old\\Lum.INI", "C:\\Setup\\copy.ini", true));
  fs::rename(image / "C/Old", image / "C/Gone");
  fs::create_directory_symlink(outside / "Old", image / "C/Old");
  EXPECT_EQ(env().ProfileReadString("Settings", "Port", "none", buffer, sizeof buffer,
                                    "C:\\Old\\Lum.INI"),
            4u);
  EXPECT_STREQ(buffer, "none");
  EXPECT_FALSE(env().CopyFileTo("C:\\Old\\Lum.INI", "C:\\Setup\\copy2.ini", true));
  EXPECT_EQ(env().LastError(), kErrorPathNotFound);
  EXPECT_EQ(Find("C:\\Old\\*"), "error 3");
  fs::remove(image / "C/Old");
  fs::rename(image / "C/Gone", image / "C/Old");
  EXPECT_TRUE(env().CopyFileTo("C:\\Old\\Lum.INI", "C:\\Setup\\copy2.ini", true));
}

// A folder the program has listed answers names from what it read, as long
// as the folder's time says nothing changed: a change made behind the
// program's back moves that time and is seen at once. The folder is dated
// back first, so that the change never falls into the clock tick of the
// listing.
TEST_F(EnvPortableTest, ChangesBehindTheProgramsBackAreSeenInAFolderItListed) {
  const fs::path old = image / "C/Old";
  struct Case {
    const char* what;
    bool there;  // Lum.INI before the change
    void (*change)(const fs::path& old);
    const char* seen;  // what opening C:\Old\lum.ini gives afterwards
  };
  const Case cases[] = {
      {"removed", true, [](const fs::path& o) { fs::remove(o / "Lum.INI"); }, "error 2"},
      {"a folder in its place", true,
       [](const fs::path& o) {
         fs::remove(o / "Lum.INI");
         fs::create_directory(o / "Lum.INI");
       },
       "error 5"},
      {"a link in its place", true,
       [](const fs::path& o) {
         fs::remove(o / "Lum.INI");
         fs::create_symlink("/etc/hostname", o / "Lum.INI");
       },
       "error 5"},
      {"made in another case", false,
       [](const fs::path& o) { std::ofstream(o / "LUM.ini") << "x"; }, "opened"},
  };
  auto open = [&] {
    std::unique_ptr<ReadableFile> file = env().OpenReadable("C:\\Old\\lum.ini");
    return file ? std::string("opened") : "error " + std::to_string(env().LastError());
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(old);
    image.Write("C/Old/other.ini", "[S]\r\n");
    if (c.there) image.Write("C/Old/Lum.INI", "[Settings]\r\nPort=515\r\n");
    fs::last_write_time(old, fs::last_write_time(old) - std::chrono::hours(24));
    env_.reset();
    ASSERT_NE(Find("C:\\Old\\*"), "error 3");  // listed, and the folder known
    ASSERT_EQ(open(), c.there ? "opened" : "error 2");
    c.change(old);
    EXPECT_EQ(open(), c.seen);
  }
}
#endif

TEST_F(EnvPortableTest, RelativePathsStartInTheProgramsDirectory) {
  options.programPath = "C:\\Setup\\CheckLUM.exe";
  EXPECT_EQ(env().HostPath("x.txt"), image / "C/Setup/x.txt");
  EXPECT_EQ(env().HostPath(".\\x.txt"), image / "C/Setup/x.txt");
  EXPECT_EQ(env().HostPath("C:x.txt"), image / "C/Setup/x.txt");
  EXPECT_EQ(env().HostPath("..\\old\\lum.ini"), image / "C/Old/Lum.INI");
  EXPECT_EQ(env().HostPath("\\Old\\lum.ini"), image / "C/Old/Lum.INI");
  // The empty setup directory of a failed program-path lookup: the root.
  EXPECT_EQ(env().HostPath("\\Spool"), image / "C/Spool");
}

TEST_F(EnvPortableTest, CurrentDriveFollowsTheProgram) {
  image.MakeFolder("D/Tools");
  options.programPath = "d:\\tools\\CheckLUM.exe";
  EXPECT_EQ(env().HostPath("\\x.txt"), image / "D/x.txt");
  EXPECT_EQ(env().HostPath("x.txt"), image / "D/Tools/x.txt");
  EXPECT_EQ(env().HostPath("C:x.txt"), image / "C/x.txt");
}

TEST_F(EnvPortableTest, NothingOutsideTheImageIsReached) {
  // ".." stops at the drive's root.
  EXPECT_EQ(env().HostPath("C:\\..\\..\\Old\\lum.ini"), image / "C/Old/Lum.INI");
  EXPECT_EQ(env().HostPath("..\\..\\..\\..\\HKLM.reg"), image / "C/HKLM.reg");
  for (const char* outside :
       {"\\\\server\\share\\lum.ini", "\\\\.\\C:\\Old\\lum.ini", "\\\\?\\C:\\Old\\lum.ini",
        "//server/share/x", "C:\\NUL", "C:\\Old\\con.txt", "C:\\LPT1\\x", ""}) {
    EXPECT_EQ(env().HostPath(outside), fs::path()) << outside;
    EXPECT_FALSE(env().CopyFileTo("C:\\Old\\lum.ini", outside, false)) << outside;
    EXPECT_EQ(env().LastError(), kErrorPathNotFound) << outside;
  }
  EXPECT_FALSE(env().CreateWritable("C:\\Old\\a<b"));
  EXPECT_EQ(env().LastError(), kErrorInvalidName);
  EXPECT_FALSE(env().CreateDir("C:\\Old\\tab\there"));
  EXPECT_EQ(env().LastError(), kErrorInvalidName);
}

#ifndef _WIN32
// Host symbolic links are never followed: a link in the image could lead
// anywhere on the host.
TEST_F(EnvPortableTest, HostLinksAreNeitherSeenNorFollowed) {
  TempDir outside;
  outside.Write("secret.txt", "secret");
  fs::create_directory_symlink(outside.path(), image / "C/link");
  fs::create_symlink(outside / "secret.txt", image / "C/Old/secret.txt");
  image.Write("C/Old/data.txt", "data");

  EXPECT_EQ(Find("C:\\Old\\*"), ". .. data.txt Lum.INI");
  EXPECT_EQ(Find("C:\\link\\*"), "error 3");
  EXPECT_FALSE(env().CopyFileTo("C:\\link\\secret.txt", "C:\\copy.txt", false));
  EXPECT_FALSE(env().CopyFileTo("C:\\Old\\secret.txt", "C:\\copy.txt", false));
  EXPECT_FALSE(env().CopyFileTo("C:\\Old\\data.txt", "C:\\Old\\secret.txt", false));
  EXPECT_FALSE(env().CopyFileTo("C:\\Old\\data.txt", "C:\\link\\new.txt", false));
  EXPECT_FALSE(env().CreateWritable("C:\\Old\\secret.txt"));
  EXPECT_FALSE(env().RemoveFile("C:\\Old\\secret.txt"));
  EXPECT_FALSE(env().ProfileWriteString("S", "k", "v", "C:\\link\\x.ini"));
  EXPECT_FALSE(env().ProfileWriteString("S", "k", "v", "C:\\Old\\secret.txt"));

  EXPECT_EQ(outside.Read("secret.txt"), "secret");
  EXPECT_FALSE(outside.Exists("new.txt"));
  EXPECT_FALSE(outside.Exists("x.ini"));
  EXPECT_FALSE(image.Exists("C/copy.txt"));
}

TEST_F(EnvPortableTest, HostNamesWindowsCannotHoldAreNotSeen) {
  image.Write("C/Old/a:b.ini", "");
  image.Write("C/Old/trailing.", "");
  image.Write("C/Old/lum.ini", "lower case twin");
  EXPECT_EQ(Find("C:\\Old\\*.ini"), "Lum.INI lum.ini");
  // A plain name finds one entry: the one spelled exactly so.
  EXPECT_EQ(Find("C:\\Old\\Lum.INI"), "Lum.INI");
  EXPECT_EQ(Find("C:\\Old\\lum.ini"), "lum.ini");
  EXPECT_EQ(Find("C:\\Old\\LUM.INI"), "Lum.INI");
}
#endif

TEST_F(EnvPortableTest, SearchesReturnNtfsOrderAndSurviveDeletions) {
  for (const char* name :
       {"zeta.ini", "Beta.ini", "alpha.ini", "_u.ini", "10.ini", "9.ini", "a b.ini", "a.ini"}) {
    image.Write(std::string("C/Q/") + name, name);
  }
  EXPECT_EQ(Find("C:\\Q\\*.ini"), "10.ini 9.ini a b.ini a.ini alpha.ini Beta.ini zeta.ini _u.ini");
  // The drive's root has no "." and ".." entries.
  EXPECT_EQ(Find("C:\\*"), "Old Q Setup WINDOWS");

  // As the job import does: every entry is visited once although each one is
  // deleted before the search goes on.
  FoundFile found;
  std::unique_ptr<FileSearch> search = env().FindFirst("C:\\Q\\*.ini", &found);
  ASSERT_TRUE(search);
  int visited = 0;
  do {
    EXPECT_TRUE(env().RemoveFile("C:\\Q\\" + found.name)) << found.name;
    ++visited;
  } while (search->Next(&found));
  EXPECT_EQ(env().LastError(), kErrorNoMoreFiles);
  EXPECT_EQ(visited, 8);
  EXPECT_EQ(Find("C:\\Q\\*"), ". ..");
}

TEST_F(EnvPortableTest, CopiesLeaveNoTemporaryFiles) {
  image.Write("C/Old/data.txt", "new data");
  image.Write("C/Spool/data.txt", "old data");
  ASSERT_TRUE(env().CopyFileTo("C:\\Old\\data.txt", "C:\\Spool\\DATA.TXT", false));
  EXPECT_EQ(image.Read("C/Spool/data.txt"), "new data");
  EXPECT_EQ(Find("C:\\Spool\\*"), ". .. data.txt");
}

TEST_F(EnvPortableTest, WindowsDirectoryMustExistInTheImage) {
  std::string dir;
  ASSERT_TRUE(env().WindowsDirectory(&dir));
  EXPECT_EQ(dir, "C:\\WINDOWS");

  for (const char* configured : {"C:\\WINNT", "WINDOWS", "C:\\Old\\Lum.INI", ""}) {
    options.windowsDirectory = configured;
    env_.reset();
    EXPECT_FALSE(env().WindowsDirectory(&dir)) << configured;
    EXPECT_EQ(env().LastError(), kErrorPathNotFound) << configured;
  }
  options.windowsDirectory = "c:\\windows\\";  // no trailing backslash, spelling as configured
  env_.reset();
  ASSERT_TRUE(env().WindowsDirectory(&dir));
  EXPECT_EQ(dir, "c:\\windows");
  options.windowsDirectory = "C:\\";
  env_.reset();
  ASSERT_TRUE(env().WindowsDirectory(&dir));
  EXPECT_EQ(dir, "C:\\");
}

TEST_F(EnvPortableTest, ModuleAndShortPathNames) {
  options.programPath = "C:\\Setup\\CheckLUM.exe";
  std::string path;
  ASSERT_TRUE(env().ModuleFileName(&path));
  EXPECT_EQ(path, "C:\\Setup\\CheckLUM.exe");
  // No 8.3 names on this volume: the long path, as given, when it exists.
  ASSERT_TRUE(env().ShortPathName("C:\\old\\lum.ini", &path));
  EXPECT_EQ(path, "C:\\old\\lum.ini");
  EXPECT_FALSE(env().ShortPathName("C:\\Old\\dellum.exe", &path));
  EXPECT_EQ(env().LastError(), kErrorFileNotFound);
  EXPECT_FALSE(env().ShortPathName("C:\\NoDir\\dellum.exe", &path));
  EXPECT_EQ(env().LastError(), kErrorFileNotFound);

  options.programPath = "";
  env_.reset();
  EXPECT_FALSE(env().ModuleFileName(&path));
}

TEST_F(EnvPortableTest, SystemTextsForEveryCodeTheBackendSets) {
  std::string text;
  for (uint32_t code :
       {kErrorFileNotFound, kErrorPathNotFound, kErrorAccessDenied, kErrorInvalidHandle,
        kErrorNoMoreFiles, kErrorWriteFault, kErrorReadFault, kErrorSharingViolation,
        kErrorFileExists, kErrorInvalidParameter, kErrorDiskFull, kErrorInvalidName,
        kErrorAlreadyExists, kErrorNotEnoughMemory, kErrorBadDbFormat, kErrorKeyDeleted}) {
    ASSERT_TRUE(env().SystemMessage(code, &text)) << code;
    EXPECT_EQ(text.substr(text.size() - 3), ".\r\n") << code;
  }
  ASSERT_TRUE(env().SystemMessage(kErrorPathNotFound, &text));
  EXPECT_EQ(text, "Path not found.\r\n");
  ASSERT_TRUE(env().SystemMessage(0x80070002, &text));
  EXPECT_EQ(text, "File not found.\r\n");
  for (uint32_t unknown : {12345u, 0xDEADBEEFu}) {
    EXPECT_FALSE(env().SystemMessage(unknown, &text));
    EXPECT_EQ(env().LastError(), kErrorMrMidNotFound);
  }
}

TEST_F(EnvPortableTest, RegistryFileIsWrittenOnlyAfterAChange) {
  std::string error;
  ASSERT_TRUE(env().LoadRegistry(&error)) << error;
  ASSERT_TRUE(env().SaveRegistry(&error)) << error;
  EXPECT_FALSE(image.Exists("HKLM.reg"));

  RegKey key = 0;
  ASSERT_EQ(env().CreateKey(kHKeyLocalMachine, "SOFTWARE\\Tandrel\\LUM", &key, nullptr), 0u);
  env().CloseKey(key);
  ASSERT_TRUE(env().SaveRegistry(&error)) << error;
  ASSERT_TRUE(image.Exists("HKLM.reg"));

  env_.reset();
  ASSERT_TRUE(env().LoadRegistry(&error)) << error;
  EXPECT_EQ(env().OpenKey(kHKeyLocalMachine, "software\\tandrel\\lum", &key), 0u);
}

TEST_F(EnvPortableTest, ProgressGoesToTheConsoleStreams) {
  std::ostringstream progress, messages;
  options.progress = &progress;
  options.messages = &messages;
  options.caption = "CheckLUM";
  env().ShowProgress("Importing file", "C:\\OLD\\lum.ini");
  env().ShowMessage("Error getting Windows directory:\nPath not found.", kMbOk);
  EXPECT_EQ(progress.str(), "Importing file\n  C:\\OLD\\lum.ini\n");
  EXPECT_EQ(messages.str(), "CheckLUM: Error getting Windows directory:\nPath not found.\n");
}

}  // namespace

namespace {

TEST_F(EnvPortableTest, ProfilesAreFoundWhereWindowsLooks) {
  options.programPath = "C:\\Setup\\CheckLUM.exe";
  char buffer[64];
  // A bare name lies in the Windows directory, ".\" in the current one.
  ASSERT_TRUE(env().ProfileWriteString("S", "k", "windows", "bare.ini"));
  EXPECT_EQ(image.Read("C/WINDOWS/bare.ini"), "[S]\r\nk=windows\r\n");
  ASSERT_TRUE(env().ProfileWriteString("S", "k", "current", ".\\dot.ini"));
  EXPECT_EQ(image.Read("C/Setup/dot.ini"), "[S]\r\nk=current\r\n");
  // Any letter case names the file on disk.
  EXPECT_EQ(
      env().ProfileReadString("settings", "port", "", buffer, sizeof buffer, "c:\\OLD\\lum.INI"),
      3u);
  EXPECT_STREQ(buffer, "515");
  EXPECT_EQ(env().ProfileReadInt("Settings", "Port", 0, "C:\\old\\LUM.ini"), 515u);

  EXPECT_FALSE(env().ProfileWriteString("S", "k", "v", "C:\\NoDir\\x.ini"));
  EXPECT_EQ(env().LastError(), kErrorPathNotFound);
  EXPECT_FALSE(env().ProfileWriteString("S", "k", "v", "\\\\server\\share\\x.ini"));
  EXPECT_EQ(env().ProfileReadString("S", "k", "dflt", buffer, sizeof buffer, "C:\\NUL"), 4u);
  EXPECT_STREQ(buffer, "dflt");
}

}  // namespace

namespace {

TEST_F(EnvPortableTest, FullPathsStartFromTheProgramsDirectory) {
  options.programPath = "C:\\Setup\\CheckLUM.exe";
  auto full = [&](const std::string& path) {
    std::string result;
    return env().FullPathName(path, &result) ? result
                                             : "error " + std::to_string(env().LastError());
  };
  EXPECT_EQ(full("lum2.ini"), "C:\\Setup\\lum2.ini");
  EXPECT_EQ(full("LUM\\lum.ini"), "C:\\Setup\\LUM\\lum.ini");
  EXPECT_EQ(full("C:lum.ini"), "C:\\Setup\\lum.ini");
  EXPECT_EQ(full("\\OLD\\lum.ini"), "C:\\OLD\\lum.ini");
  EXPECT_EQ(full("d:\\x\\..\\y"), "D:\\y");
  EXPECT_EQ(full("D:y"), "D:\\y");  // the current directory is on C:
  EXPECT_EQ(full("\\\\server\\share\\x"), "error 3");
}

}  // namespace

#ifndef _WIN32
// The dry run's copy of an image (the Linux program's): what a run can
// see, in no more room than the image's data takes.
TEST(CopyHostTree, KeepsHolesLinksAndPermissionsAndLeavesOutFifos) {
  TempDir dir;
  fs::path from = dir.path() / "from", to = dir.path() / "to";
  fs::create_directories(from / "C" / "OLD");
  std::ofstream(from / "C" / "OLD" / "lum.ini") << "[Settings]\r\n";
  MakeReadOnly(from / "C" / "OLD" / "lum.ini");
  {
    std::ofstream sparse(from / "C" / "pagefile.sys");
    sparse.seekp(64 << 20);
    sparse << "end";
  }
  fs::create_symlink("/etc", from / "C" / "link");
  ASSERT_EQ(mkfifo((from / "C" / "fifo").c_str(), 0600), 0);
  std::string error;
  ASSERT_TRUE(CopyHostTree(from, to, &error)) << error;
  EXPECT_EQ(fs::file_size(to / "C" / "pagefile.sys"), (64u << 20) + 3);
  struct stat copied {};
  ASSERT_EQ(stat((to / "C" / "pagefile.sys").c_str(), &copied), 0);
  EXPECT_LT(copied.st_blocks * 512, 1 << 20) << "the holes were filled";
  EXPECT_TRUE(IsReadOnly(to / "C" / "OLD" / "lum.ini"));
  EXPECT_TRUE(fs::is_symlink(to / "C" / "link"));
  EXPECT_FALSE(fs::exists(fs::symlink_status(to / "C" / "fifo")));
}
#endif
