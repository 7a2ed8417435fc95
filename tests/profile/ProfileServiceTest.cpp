// The portable profile service against the Windows profile service's
// observed behaviour: lookup, lexical rules, buffer limits, the integer
// syntax, how writes rewrite a file, failures and the cache.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/WinError.h"
#include "platform/portable/files/HostFile.h"
#include "platform/portable/profile/ProfileService.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;
using namespace std::string_literals;

namespace {

// Shows a buffer the way the tests spell it: NUL as "\0", other bytes as
// they are; the buffer is pre-filled with '#' and a run of unwritten bytes at
// its end shows as one '#'.
std::string Show(const std::vector<char>& buffer) {
  size_t end = buffer.size();
  while (end > 0 && buffer[end - 1] == '#') --end;
  std::string out;
  for (size_t i = 0; i < end; ++i)
    out += buffer[i] == '\0' ? std::string("\\0") : std::string(1, buffer[i]);
  if (end < buffer.size()) out += '#';
  return out;
}

class ProfileServiceTest : public ::testing::Test {
 protected:
  fs::path File(const std::string& content) {
    dir_.Write("p.ini", content);
    return dir_ / "p.ini";
  }
  // "ret buffer" of one GetPrivateProfileStringA call on `file`.
  std::string Gps(const fs::path& file, const char* section, const char* key, const char* def,
                  uint32_t size) {
    std::vector<char> buffer(size, '#');
    error_ = 0xEEEE;
    uint32_t ret = service_.ReadString(section, key, def, buffer.data(), size, file, &error_);
    return std::to_string(ret) + " " + Show(buffer);
  }
  std::string Gps(const std::string& content, const char* section, const char* key,
                  const char* def = "D", uint32_t size = 100) {
    return Gps(File(content), section, key, def, size);
  }
  int32_t Gpi(const std::string& content, const char* section, const char* key, int32_t def = 77) {
    return static_cast<int32_t>(service_.ReadInt(section, key, def, File(content), &error_));
  }
  // The file after one write, or "ret N err E" when the write fails.
  std::string Wps(const std::string& content, const char* section, const char* key,
                  const char* value) {
    fs::path file = File(content);
    error_ = 0xEEEE;
    if (!service_.WriteString(section, key, value, file, &error_)) {
      return "failed, error " + std::to_string(error_);
    }
    return *dir_.Read("p.ini");
  }

  TempDir dir_;
  ProfileService service_;
  uint32_t error_ = 0;
};

TEST_F(ProfileServiceTest, SectionHeadersAndNameMatching) {
  const std::string file = "[Sec]\r\nk=v\r\n";
  for (const char* section : {"Sec", "sec", "SEC", " Sec", "Sec\t"}) {
    EXPECT_EQ(Gps(file, section, "K"), "1 v\\0#") << section;
  }
  EXPECT_EQ(Gps(file, "[Sec]", "k"), "1 D\\0#");
  EXPECT_EQ(Gps("[ \tSec\t ]\r\nk=v", "Sec", "k"), "1 v\\0#");
  EXPECT_EQ(Gps("[S e c]\r\nk=v", "S  e c", "k"), "1 D\\0#");
  EXPECT_EQ(Gps("[Sec\r\nk=v\r\n", "Sec", "k"), "1 D\\0#");
  EXPECT_EQ(Gps("[Sec\r\nk=v\r\n[T]\r\nt=1", nullptr, nullptr), "2 T\\0\\0#");
  // The "[Sec" line is one of the lines before the first header, which no
  // section name reaches ("" included; Wine lists "k" here).
  EXPECT_EQ(Gps("[Sec\r\nk=v\r\n[T]\r\nt=1", "", nullptr), "1 D\\0#");
  EXPECT_EQ(Gps("  [Sec] trailing ]text;c\r\nk=v", nullptr, nullptr), "14 Sec] trailing\\0\\0#");
  EXPECT_EQ(Gps("[Se]c]\r\nk=v", "Se]c", "k"), "1 v\\0#");
  EXPECT_EQ(Gps("[Se[c]\r\nk=v", nullptr, nullptr), "5 Se[c\\0\\0#");
  EXPECT_EQ(Gps("x[Sec]\r\nk=v", "Sec", "k"), "1 D\\0#");
  // A header with an empty name starts the section named "", as on Windows
  // (Wine reads the lines before the first header instead), and is not
  // listed.
  EXPECT_EQ(Gps("k0=g\r\n[ ]\r\nk=v", "", "k"), "1 v\\0#");
  EXPECT_EQ(Gps("k0=g\r\n[ ]\r\nk=v", "", nullptr), "2 k\\0\\0#");
  EXPECT_EQ(Gps("k0=g\r\n[ ]\r\nk=v", nullptr, nullptr), "0 \\0#");
  // ASCII letters ignore case, other bytes must match exactly.
  const std::string high = "[S\xE9]\r\nk\xE9=v\xE9\xFF\x80\r\n";
  EXPECT_EQ(Gps(high, "s\xE9", "K\xE9"), "4 v\xE9\xFF\x80\\0#");
  EXPECT_EQ(Gps(high, "S\xC9", "k\xE9"), "1 D\\0#");
}

TEST_F(ProfileServiceTest, KeysValuesAndQuotes) {
  const std::string file =
      "[S]\r\n  k  =  v  \r\na b=x\r\n\tt\t=\ty\t\r\ndq=\"v\"\r\nsq='v'\r\ndqsp=\" v \"\r\n"
      "udq=\"v\r\nmix='v\"\r\ninner=\"a\"b\"\r\nq1=\"\r\nq2=\"\"\r\neq=a = b\r\nempty=\r\n"
      "blank=   \r\ninl=v ;c\r\nvf=\v x \f\r\nnul=x\0y\r\n;c1=1\r\n#c2=2\r\nnoeq\r\n"s;
  auto read = [&](const char* key) { return Gps(file, "S", key); };
  EXPECT_EQ(read("k"), "1 v\\0#");
  EXPECT_EQ(read("a  b"), "1 D\\0#");
  EXPECT_EQ(read(" a b "), "1 x\\0#");
  EXPECT_EQ(read("t"), "1 y\\0#");
  EXPECT_EQ(read("dq"), "1 v\\0#");
  EXPECT_EQ(read("sq"), "1 v\\0#");
  EXPECT_EQ(read("dqsp"), "3  v \\0#");
  EXPECT_EQ(read("udq"), "2 \"v\\0#");
  EXPECT_EQ(read("mix"), "3 'v\"\\0#");
  EXPECT_EQ(read("inner"), "3 a\"b\\0#");
  EXPECT_EQ(read("q1"), "1 \"\\0#");
  EXPECT_EQ(read("q2"), "0 \\0#");
  EXPECT_EQ(read("eq"), "5 a = b\\0#");
  EXPECT_EQ(read("empty"), "0 \\0#");
  EXPECT_EQ(read("blank"), "0 \\0#");
  EXPECT_EQ(read("inl"), "4 v ;c\\0#");
  EXPECT_EQ(read("vf"), "1 x\\0#");
  EXPECT_EQ(read("nul"), "1 x\\0#");
  EXPECT_EQ(read(";c1"), "1 1\\0#");
  EXPECT_EQ(read("c1"), "1 D\\0#");
  EXPECT_EQ(read("#c2"), "1 2\\0#");
  EXPECT_EQ(read("noeq"), "1 D\\0#");
  EXPECT_EQ(Gps(file, "S", nullptr, "D", 200),
            "69 k\\0a b\\0t\\0dq\\0sq\\0dqsp\\0udq\\0mix\\0inner\\0q1\\0q2\\0eq\\0empty\\0blank\\0"
            "inl\\0vf\\0nul\\0#c2\\0\\0#");
}

TEST_F(ProfileServiceTest, EmptyNamesDuplicatesAndTheTopOfTheFile) {
  EXPECT_EQ(Gps("[S]\r\n=e\r\ny=2", "S", nullptr), "1 D\\0#");
  EXPECT_EQ(Gps("[S]\r\n=e\r\ny=2", "S", nullptr, nullptr), "0 \\0#");
  EXPECT_EQ(Gps("[S]\r\nz=1\r\n=a\r\n=b\r\ny=2", "S", nullptr), "5 z\\0\\0y\\0\\0#");
  EXPECT_EQ(Gps("[S]\r\nz=1\r\n=a\r\nx=0\r\n  =b\r\ny=2", "S", nullptr),
            "8 z\\0\\0x\\0\\0y\\0\\0#");
  EXPECT_EQ(Gps("[S]\r\nz=1\r\n=a\r\n=b", "S", ""), "1 a\\0#");
  // A second empty name right after the first is gone for good.
  EXPECT_EQ(Wps("[S]\r\nz=1\r\n=a\r\n=b\r\n;c=1\r\n=d\r\n", "S", "y", "2"),
            "[S]\r\nz=1\r\n=a\r\n;c=1\r\n=d\r\ny=2\r\n");

  const std::string top = "g1=a\r\n\r\n  \r\ng2=b\r\n[S]\r\n\r\nk=v\r\n\r\n\r\n[T]\r\nx=y";
  // The lines before the first header are no section at all: "" does not
  // reach them on Windows (it does on Wine).
  EXPECT_EQ(Gps(top, "", "g1"), "1 D\\0#");
  EXPECT_EQ(Gps(top, "", nullptr), "1 D\\0#");
  EXPECT_EQ(Gps(top, "S", "g1"), "1 D\\0#");
  EXPECT_EQ(Gps(top, nullptr, "g1"), "4 S\\0T\\0\\0#");

  const std::string twice = "[S]\r\na=1\r\nc=first\r\n[T]\r\nt=1\r\n[s]\r\na=2\r\nb=3";
  EXPECT_EQ(Gps(twice, "S", "a"), "1 1\\0#");
  EXPECT_EQ(Gps(twice, "S", "b"), "1 D\\0#");
  EXPECT_EQ(Gps(twice, "S", nullptr), "4 a\\0c\\0\\0#");
  EXPECT_EQ(Gps(twice, nullptr, nullptr), "6 S\\0T\\0s\\0\\0#");
  EXPECT_EQ(Gps("[S]\r\na=1\r\nb=x\r\na=2\r\nA=3", "S", "A"), "1 1\\0#");
  EXPECT_EQ(Gps("[S]\r\na=1\r\nb=x\r\na=2\r\nA=3", "S", nullptr), "8 a\\0b\\0a\\0A\\0\\0#");
  EXPECT_EQ(Gps("[S]\r\na=\r\na=2", "S", "a"), "0 \\0#");
  EXPECT_EQ(Gps("[S]\r\na\r\na=2", "S", "a"), "1 D\\0#");
}

// Section "" is the first header with an empty name ("[]", "[ ]"), as on
// Windows. The lines before the first header belong to no section: no name
// reaches them, and writes to "" never go there.
TEST_F(ProfileServiceTest, EmptySectionNameIsAHeaderWithAnEmptyName) {
  const std::string file = "key=val_no_section\r\n[]\r\nkey=val_e_section\r\n";
  EXPECT_EQ(Gps(file, "", "key"), "13 val_e_section\\0#");
  EXPECT_EQ(error_, kErrorSuccess);
  EXPECT_EQ(Gps(file, " \t", "KEY"), "13 val_e_section\\0#");
  EXPECT_EQ(Gps(file, "", nullptr), "4 key\\0\\0#");
  EXPECT_EQ(Gps(file, nullptr, nullptr), "0 \\0#");
  EXPECT_EQ(Gpi("n=1\r\n[ ]\r\nn=2", "", "n"), 2);
  // Only the first such header counts; a later one is not merged into it.
  const std::string two = "[]\r\na=1\r\n[S]\r\n[ \t]\r\nb=2\r\n";
  EXPECT_EQ(Gps(two, "", "a"), "1 1\\0#");
  EXPECT_EQ(Gps(two, "", "b"), "1 D\\0#");
  const std::string top = "g=1\r\n[S]\r\nk=v\r\n";
  EXPECT_EQ(Gps(top, "", "g"), "1 D\\0#");
  EXPECT_EQ(error_, kErrorFileNotFound);
  EXPECT_EQ(Gps(top, "", nullptr), "1 D\\0#");
  EXPECT_EQ(Gps("g=1", "", "g"), "1 D\\0#");
  EXPECT_EQ(Gpi("g=1", "", "g"), 77);

  EXPECT_EQ(Wps(top, "", "n", "2"), "g=1\r\n[S]\r\nk=v\r\n[]\r\nn=2\r\n");
  EXPECT_EQ(Wps(top, " ", "g", "2"), "g=1\r\n[S]\r\nk=v\r\n[]\r\ng=2\r\n");
  EXPECT_EQ(Gps(dir_ / "p.ini", "", "g", "D", 100), "1 2\\0#");
  EXPECT_EQ(Wps("", "", "k", "v"), "[]\r\nk=v\r\n");
  EXPECT_EQ(Wps(two, "", "b", "3"), "[]\r\na=1\r\nb=3\r\n[S]\r\n[]\r\nb=2\r\n");
  EXPECT_EQ(Wps(two, "", "a", nullptr), "[]\r\n[S]\r\n[]\r\nb=2\r\n");
  EXPECT_EQ(Wps(two, " ", nullptr, nullptr), "[S]\r\n[]\r\nb=2\r\n");
  EXPECT_EQ(Wps(top, "", "g", nullptr), top);
  EXPECT_EQ(Wps(top, "", nullptr, nullptr), top);
}

TEST_F(ProfileServiceTest, LineEndsAndOddBytes) {
  EXPECT_EQ(Gps("[S]\na=1\nb=2\n[T]\nc=3", "T", "c"), "1 3\\0#");
  EXPECT_EQ(Gps("[S]\ra=1\rb=2\r[T]\rc=3\r", nullptr, nullptr), "4 S\\0T\\0\\0#");
  EXPECT_EQ(Gps("[S]\r\na=1\nb=2\rc=3\r\n\n\rd=4\n\r[T]\r\ne=5", "S", nullptr),
            "8 a\\0b\\0c\\0d\\0\\0#");
  EXPECT_EQ(Gps("[S]\r\na=1\r\r\nb=2\r\n", "S", "a"), "1 1\\0#");
  EXPECT_EQ(Gps(std::string("[S]\r\na=1\r\n\0\r\nc=3\r\n[T]\r\nd=4", 26), nullptr, nullptr),
            "4 S\\0T\\0\\0#");
  EXPECT_EQ(Gps(std::string("[S]\r\na\0=1\r\n", 11), "S", "a"), "1 1\\0#");
  EXPECT_EQ(Gps("", nullptr, nullptr), "0 \\0#");
  EXPECT_EQ(Gps("", "S", "k"), "1 D\\0#");
  EXPECT_EQ(Gps("[S]\r\nv=\x81\x8D\x8F\x90\x9D", "S", "v"), "5 \x81\x8D\x8F\x90\x9D\\0#");
}

TEST_F(ProfileServiceTest, EndOfFileMarksCountAsBlanks) {
  const std::string file = "\x1A[S]\r\nk=\x1Av\x1A\r\n\x1A k2=1\r\n  \x1A[T]\r\nt=1\r\n\x1A";
  EXPECT_EQ(Gps(file, "S", "k"), "1 v\\0#");
  EXPECT_EQ(Gps(file, nullptr, nullptr), "4 S\\0T\\0\\0#");
  EXPECT_EQ(Gps(file, "S", nullptr), "5 k\\0k2\\0\\0#");
}

TEST_F(ProfileServiceTest, UnicodeFilesAreReadInTheAnsiCodePage) {
  EXPECT_EQ(Gps("\xEF\xBB\xBF[S]\r\nk=\xC3\xA9\xE2\x82\xAC\r\n[T]\r\nt=1\r\n", "S", "k"),
            "2 \xE9\x80\\0#");
  EXPECT_EQ(Gps("[S]\r\nk=\xC3\xA9\r\n", "S", "k"), "2 \xC3\xA9\\0#");
  std::string utf16le("\xFF\xFE", 2);
  for (char c : std::string("[S]\r\nk=v\xE9\r\n")) utf16le += std::string{c, '\0'};
  EXPECT_EQ(Gps(utf16le, "S", "k"), "2 v\xE9\\0#");
  std::string utf16be("\xFE\xFF", 2);
  for (char c : std::string("[S]\r\nk=v\r\n")) utf16be += std::string{'\0', c};
  EXPECT_EQ(Gps(utf16be, "S", "k"), "1 v\\0#");
  // A UTF-8 file holding only its mark reads as empty, with error 87.
  EXPECT_EQ(Gps("\xEF\xBB\xBF", "S", "k"), "1 D\\0#");
  EXPECT_EQ(error_, kErrorInvalidParameter);
  // An odd trailing byte of a UTF-16 file is ignored, not read past.
  EXPECT_EQ(Gps(utf16be + "x", "S", "k"), "1 v\\0#");

  // Writes keep the encoding, and bytes of a UTF-8 file that are not UTF-8
  // are kept as they are (Wine writes U+FFFD for them).
  EXPECT_EQ(Wps("\xEF\xBB\xBF[S]\r\nv=\xC9\r\n", "S", "k", "\xE9"),
            "\xEF\xBB\xBF[S]\r\nv=\xC9\r\nk=\xC3\xA9\r\n");
  std::string written = Wps(utf16le, "S", "n", "1");
  EXPECT_EQ(written.substr(0, 2), "\xFF\xFE");
  EXPECT_EQ(Gps(dir_ / "p.ini", "S", "n", "D", 100), "1 1\\0#");
}

TEST_F(ProfileServiceTest, DefaultsAndMissingThings) {
  fs::path missing = dir_ / "missing.ini";
  EXPECT_EQ(Gps(missing, "S", "k", "DEF", 100), "3 DEF\\0#");
  EXPECT_EQ(error_, kErrorFileNotFound);
  EXPECT_EQ(Gps(missing, "S", nullptr, "DEF", 100), "3 DEF\\0#");
  EXPECT_EQ(Gps(missing, nullptr, nullptr, "DEF", 100), "0 \\0#");
  EXPECT_EQ(Gps(missing, nullptr, "k", "DEF", 100), "0 \\0#");
  EXPECT_EQ(Gps(dir_ / "no/such/dir.ini", "S", "k", "DEF", 100), "3 DEF\\0#");
  EXPECT_EQ(error_, kErrorPathNotFound);

  const std::string file = "[S]\r\nempty=\r\nblank=   \r\nk=v\r\n[E]\r\n[T]\r\nt=1";
  EXPECT_EQ(Gps(file, "X", "k", "DEF"), "3 DEF\\0#");
  EXPECT_EQ(error_, kErrorFileNotFound);  // no such section: 2 on Windows, 0 on Wine
  EXPECT_EQ(Gps(file, "S", "empty", "DEF"), "0 \\0#");
  EXPECT_EQ(Gps(file, "S", "blank", "DEF"), "0 \\0#");
  EXPECT_EQ(Gps(file, "E", nullptr, "D"), "1 D\\0#");
  // The key-name list takes the section name and the default as given.
  EXPECT_EQ(Gps(file, " S", nullptr, "DEF  "), "5 DEF  \\0#");
  EXPECT_EQ(Gps(file, "S ", nullptr, "\"D\"", 1), "0 \\0");
  // The list takes "S " as given, which names no section: 2 on Windows, 0 on
  // Wine.
  EXPECT_EQ(error_, kErrorFileNotFound);
  EXPECT_EQ(Gps(file, "E", nullptr, "", 4096), "0 \\0#");
  EXPECT_EQ(Gps(file, "S", "x", "DEF   "), "3 DEF\\0#");
  EXPECT_EQ(Gps(file, "S", "x", "   DEF"), "6    DEF\\0#");
  EXPECT_EQ(Gps(file, "S", "x", "DEF\t"), "4 DEF\t\\0#");
  EXPECT_EQ(Gps(file, "S", "x", "   "), "1  \\0#");
  EXPECT_EQ(Gps(file, "S", "x", "\"DEF\""), "3 DEF\\0#");
  EXPECT_EQ(Gps(file, "S", "x", nullptr), "0 \\0#");
  EXPECT_EQ(Gps(file, "S", "x", "DEFAULTLONG", 5), "4 DEFA\\0");
  EXPECT_EQ(Gps(file, "S", "x", "DEF      ", 5), "3 DEF\\0#");
  EXPECT_EQ(Gps(file, "S", "x", "DEF", 3), "2 DE\\0");
}

// A read that finds its key sets the last error to 0; one that falls back
// on the default because the file has no such section or key sets 2, as
// Windows does (Wine sets 0 there). The file itself was read either way.
TEST_F(ProfileServiceTest, ReadsThatFindNothingSetError2) {
  const std::string file = "[App]\r\n[S]\r\nk=v\r\nempty=\r\nnoeq\r\n";
  auto read = [&](const char* section, const char* key) {
    Gps(file, section, key, "D", 100);
    return error_;
  };
  EXPECT_EQ(read("App", "key"), kErrorFileNotFound);
  EXPECT_EQ(read("X", "k"), kErrorFileNotFound);
  EXPECT_EQ(read("S", "x"), kErrorFileNotFound);
  EXPECT_EQ(read("S", "noeq"), kErrorFileNotFound);
  EXPECT_EQ(read("X", nullptr), kErrorFileNotFound);
  EXPECT_EQ(read("S", "k"), kErrorSuccess);
  EXPECT_EQ(read(" s ", "K "), kErrorSuccess);
  EXPECT_EQ(read("S", "empty"), kErrorSuccess);
  EXPECT_EQ(read("S", nullptr), kErrorSuccess);
  EXPECT_EQ(read("App", nullptr), kErrorSuccess);  // found, only empty
  EXPECT_EQ(read(nullptr, nullptr), kErrorSuccess);
  EXPECT_EQ(read(nullptr, "k"), kErrorSuccess);
  EXPECT_EQ(read("", "k"), kErrorFileNotFound);
  EXPECT_EQ(Gps(std::string(), "S", "k", "D", 100), "1 D\\0#");
  EXPECT_EQ(error_, kErrorFileNotFound);

  fs::path path = File(file);
  auto readInt = [&](const char* section, const char* key) {
    error_ = 0xDEADBEEF;
    service_.ReadInt(section, key, 5, path, &error_);
    return error_;
  };
  EXPECT_EQ(readInt("App", "key"), kErrorFileNotFound);
  EXPECT_EQ(readInt("X", nullptr), kErrorFileNotFound);
  EXPECT_EQ(readInt("S", "k"), kErrorSuccess);
  EXPECT_EQ(readInt("S", "empty"), kErrorSuccess);
  EXPECT_EQ(readInt(nullptr, "k"), kErrorSuccess);
}

TEST_F(ProfileServiceTest, ValuesAreCutToTheBuffer) {
  const std::string file = "[S]\r\nv=abcdefghij\r\nq=\"abcdefghij\"\r\nr=\"abc\"\r\n";
  EXPECT_EQ(Gps(file, "S", "v", "D", 12), "10 abcdefghij\\0#");
  EXPECT_EQ(Gps(file, "S", "v", "D", 11), "10 abcdefghij\\0");
  EXPECT_EQ(Gps(file, "S", "v", "D", 10), "9 abcdefghi\\0");
  EXPECT_EQ(Gps(file, "S", "v", "D", 2), "1 a\\0");
  EXPECT_EQ(Gps(file, "S", "v", "D", 1), "0 \\0");
  EXPECT_EQ(Gps(file, "S", "v", "D", 0), "0 ");
  EXPECT_EQ(error_, 0xEEEEu);  // nothing written, the last error untouched
  EXPECT_EQ(Gps(file, "S", "q", "D", 12), "10 abcdefghij\\0#");
  EXPECT_EQ(Gps(file, "S", "q", "D", 10), "9 abcdefghi\\0");
  EXPECT_EQ(Gps(file, "S", "r", "D", 3), "2 ab\\0");
  // A quoted value that just fits comes back whole (Wine loses its last
  // character here; the documented rule cuts only what does not fit).
  EXPECT_EQ(Gps(file, "S", "q", "D", 11), "10 abcdefghij\\0");
  EXPECT_EQ(Gps(file, "S", "r", "D", 4), "3 abc\\0");

  std::string big(100000, 'y');
  EXPECT_EQ(Gps("[S]\r\nh=" + big + "\r\nn=1", "S", "n"), "1 1\\0#");
  std::vector<char> buffer(200000, '#');
  EXPECT_EQ(service_.ReadString("S", "h", "", buffer.data(), 200000, dir_ / "p.ini", &error_),
            100000u);
  EXPECT_EQ(Gps("[S]\r\n" + std::string(300, 'k') + "=kv", "S", std::string(300, 'K').c_str()),
            "2 kv\\0#");
}

// A list that fits is written with exactly one closing NUL more; one that
// does not is cut to size - 2 characters and closed by two NULs (the
// documented rule; Wine leaves the last byte unwritten).
TEST_F(ProfileServiceTest, ListsAreCutToTheBuffer) {
  const std::string file = "[S]\r\nv=1\r\nq=2\r\nk1=3\r\nkey2=4\r\nk3=5\r\n[T2]\r\n[Third]\r\n";
  auto keys = [&](uint32_t n) { return Gps(file, "S", nullptr, "D", n); };
  EXPECT_EQ(keys(18), "15 v\\0q\\0k1\\0key2\\0k3\\0\\0#");
  EXPECT_EQ(keys(17), "15 v\\0q\\0k1\\0key2\\0k3\\0\\0#");
  EXPECT_EQ(keys(16), "14 v\\0q\\0k1\\0key2\\0k3\\0\\0");
  EXPECT_EQ(keys(15), "13 v\\0q\\0k1\\0key2\\0k\\0\\0");
  EXPECT_EQ(keys(14), "12 v\\0q\\0k1\\0key2\\0\\0\\0");
  EXPECT_EQ(keys(4), "2 v\\0\\0\\0");
  EXPECT_EQ(keys(3), "1 v\\0\\0");
  EXPECT_EQ(keys(2), "1 D\\0");
  EXPECT_EQ(keys(1), "0 \\0");
  EXPECT_EQ(error_, kErrorInvalidParameter);
  EXPECT_EQ(keys(0), "0 ");
  auto sections = [&](uint32_t n) { return Gps(file, nullptr, nullptr, "D", n); };
  EXPECT_EQ(sections(13), "11 S\\0T2\\0Third\\0\\0#");
  EXPECT_EQ(sections(12), "10 S\\0T2\\0Third\\0\\0");
  EXPECT_EQ(sections(11), "9 S\\0T2\\0Thir\\0\\0");
  EXPECT_EQ(sections(5), "3 S\\0T\\0\\0");
  EXPECT_EQ(sections(2), "0 \\0\\0");
  EXPECT_EQ(sections(1), "0 \\0");

  std::string many = "[S]\r\n";
  for (int i = 0; i < 600; ++i) many += "key" + std::to_string(10000 + i).substr(1) + "=v\r\n";
  std::vector<char> buffer(4096, '#');
  EXPECT_EQ(service_.ReadString("S", nullptr, "", buffer.data(), 4096, File(many), &error_), 4094u);
  EXPECT_EQ(std::string(buffer.data() + 4088, 8), std::string("key051\0\0", 8));
}

// Windows closes a list cut to a 16-byte buffer with two NULs, the second
// one in the buffer's last byte (Wine leaves that byte unwritten, so a caller
// walking the names would run past the buffer).
TEST_F(ProfileServiceTest, ListsCutToSixteenBytesEndInTwoNuls) {
  const std::string file =
      "[Alpha]\r\nkey1=1\r\nkey2=2\r\nkey3=3\r\nkey4=4\r\n[Beta]\r\n[Gamma]\r\n";
  EXPECT_EQ(Gps(file, nullptr, nullptr, "D", 16), "14 Alpha\\0Beta\\0Gam\\0\\0");
  EXPECT_EQ(Gps(file, "Alpha", nullptr, "D", 16), "14 key1\\0key2\\0key3\\0\\0");
}

TEST_F(ProfileServiceTest, IntegerSyntax) {
  struct Case {
    const char* value;
    uint32_t expected;
  } cases[] = {
      {"12", 12},
      {"  12", 12},
      {"+12", 12},
      {"-12", 0u - 12},
      {"007", 7},
      {"010", 10},
      {"0x10", 16},
      {"-0x10", 0u - 16},
      {"0X1f", 0},
      {"0x", 0},
      {"0x1G", 1},
      {"00x10", 0},
      {"0o17", 15},
      {"0b101", 5},
      {"12abc", 12},
      {"1.5", 1},
      {"abc", 0},
      {"- 5", 0},
      {"--5", 0},
      {"+", 0},
      {"\"12\"", 12},
      {"'7'", 7},
      {"\"-3\"", 0u - 3},
      {"2147483648", 2147483648u},
      {"4294967296", 0},
      {"99999999999", 1215752191u},
      {"99999999999999999999", 1661992959u},
      {"-2147483649", 2147483647u},
      {"-99999999999999999999", 2632974337u},
      {"0xFFFFFFFF", 4294967295u},
      {"0x100000000", 0},
      {"", 77},
      {"   ", 77},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(static_cast<uint32_t>(Gpi(std::string("[S]\r\nk=") + c.value, "S", "k")), c.expected)
        << c.value;
  }
  EXPECT_EQ(Gpi("[S]\r\nnoeq", "S", "noeq"), 77);
  // Only the first 29 characters count.
  EXPECT_EQ(static_cast<uint32_t>(Gpi("[S]\r\nk=123456789012345678901234567890", "S", "k")),
            1849262357u);
  EXPECT_EQ(Gpi("[S]\r\nk=1", "S", "x", -5), -5);
  EXPECT_EQ(Gpi("[S]\r\nk=1", "X", "k"), 77);
  EXPECT_EQ(Gpi("[S]\r\na=1", "S", nullptr), 0);
  EXPECT_EQ(Gpi("[7S]\r\na=1", nullptr, "a"), 7);
  EXPECT_EQ(static_cast<int32_t>(service_.ReadInt("S", "k", 77, dir_ / "none.ini", &error_)), 77);
  EXPECT_EQ(error_, kErrorFileNotFound);
}

TEST_F(ProfileServiceTest, WritesCreateReplaceAndDelete) {
  EXPECT_EQ(Wps("", "Sec", "Key", "Val"), "[Sec]\r\nKey=Val\r\n");
  EXPECT_EQ(Wps("[Sec]\r\nKey=Val\r\n", "Sec2", "a", "1"), "[Sec]\r\nKey=Val\r\n[Sec2]\r\na=1\r\n");
  EXPECT_EQ(Wps("[Sec]\r\nKey=Val\r\n", "SEC", "KEY", "Upper"), "[Sec]\r\nKey=Upper\r\n");
  EXPECT_EQ(Wps("[Sec]\r\nK2=1\r\n", " Sec ", " K2 ", " spaced "), "[Sec]\r\nK2=spaced \r\n");
  EXPECT_EQ(Wps("", " New ", " k ", "v"), "[New ]\r\nk =v\r\n");
  EXPECT_EQ(Wps("[S]\r\n", "S", "b", "\tx\t"), "[S]\r\nb=x\t\r\n");
  EXPECT_EQ(Wps("[S]\r\n", "S", "E", ""), "[S]\r\nE=\r\n");
  EXPECT_EQ(Wps("[S]\r\n", "S", "NL", "a\r\nb=c"), "[S]\r\nNL=a\r\nb=c\r\n");
  EXPECT_EQ(Wps("[S]\r\n", "S", "k=x", "v"), "[S]\r\nk=x=v\r\n");
  EXPECT_EQ(Wps("[S]\r\n", "A]B", "k", "v"), "[S]\r\n[A]B]\r\nk=v\r\n");
  EXPECT_EQ(Gps(dir_ / "p.ini", "A]B", "k", "D", 100), "1 v\\0#");
  // Section "" is a header with an empty name, made at the end like any
  // other new section (Wine writes to the lines before the first header).
  EXPECT_EQ(Wps("g=1\r\n[S]\r\nk=v\r\n", "", "n", "2"), "g=1\r\n[S]\r\nk=v\r\n[]\r\nn=2\r\n");
  EXPECT_EQ(Wps("[S]\r\nnoeq\r\n", "S", "noeq", "v"), "[S]\r\nnoeq=v\r\n");
  EXPECT_EQ(Wps("[S]\r\nn=\xE9\r\n", "S", "m", "\xE9\x81"), "[S]\r\nn=\xE9\r\nm=\xE9\x81\r\n");

  const std::string dup = "[S]\r\na=1\r\na=2\r\n[T]\r\n[S]\r\na=3";
  EXPECT_EQ(Wps(dup, "s", "A", "X"), "[S]\r\na=X\r\na=2\r\n[T]\r\n[S]\r\na=3\r\n");
  EXPECT_EQ(Wps(dup, "S", "a", nullptr), "[S]\r\na=2\r\n[T]\r\n[S]\r\na=3\r\n");
  EXPECT_EQ(Wps(dup, "S", nullptr, nullptr), "[T]\r\n[S]\r\na=3\r\n");
  EXPECT_EQ(Wps(dup, "S", nullptr, "ignored"), "[T]\r\n[S]\r\na=3\r\n");
  EXPECT_EQ(Wps("[S]\r\na=1\r\n", "S", "a", nullptr), "[S]\r\n");
  // Deletes take the names as given, blanks after them included.
  EXPECT_EQ(Wps("[S]\r\na=1\r\n", "S ", nullptr, nullptr), "[S]\r\na=1\r\n");
  EXPECT_EQ(Wps("[S]\r\na=1\r\n", " S", "a ", nullptr), "[S]\r\na=1\r\n");
  EXPECT_EQ(Wps("[S]\r\na=1\r\n", " S", " a", nullptr), "[S]\r\n");
  // With no header of an empty name, deleting section "" finds nothing to
  // delete and leaves the file alone (Wine deletes the lines before the
  // first header and rewrites the file).
  EXPECT_EQ(Wps("\r\n[S]\r\n a = 1", "", nullptr, nullptr), "\r\n[S]\r\n a = 1");
  // Headers with an empty name stay (Wine drops them, so that their keys
  // would slip into the section above).
  EXPECT_EQ(Wps("k=1\r\n[]\r\nk=2\r\n", "T", "t", "3"), "k=1\r\n[]\r\nk=2\r\n[T]\r\nt=3\r\n");
  EXPECT_EQ(Wps("[S]\r\nk=v\r\n[T]\r\nt=1", "S", "new", "1"),
            "[S]\r\nk=v\r\nnew=1\r\n[T]\r\nt=1\r\n");
}

// Anything that changes the file rewrites its sections whole in normalised
// form; anything that changes nothing leaves its bytes alone.
TEST_F(ProfileServiceTest, RewritesNormaliseAndNoChangeKeepsTheBytes) {
  const std::string messy =
      "  ; c0  \r\n\r\n[S]   ;hdr comment\r\n  a = 1  \r\n\r\n b=\"q\" \r\n\tt\t=\tx\t\r\n[T]\r\n"
      "  x  =  y  \r\n\r\n\r\n[ U ]\r\nnoeq  \r\n  =e\r\n";
  // The text before the first header stays as it is, blank line included
  // (Wine trims it and drops the blank line; Windows keeps every byte).
  EXPECT_EQ(Wps(messy, "S", "a", "2"),
            "  ; c0  \r\n\r\n[S]\r\na=2\r\nb=\"q\"\r\nt=x\r\n[T]\r\nx=y\r\n[U]\r\nnoeq\r\n=e\r\n");
  EXPECT_EQ(Wps("[S]\na=1\rb=2", "S", "c", "3"), "[S]\r\na=1\r\nb=2\r\nc=3\r\n");
  EXPECT_EQ(Wps("[S]\r\n[T\r\n", "S", "k", "v"), "[S]\r\n[T\r\nk=v\r\n");
  EXPECT_EQ(Wps("[S]\r\na=x\0y\r\n\0\r\n"s, "S", "b", "1"), "[S]\r\na=x\r\n\r\nb=1\r\n");

  for (const char* unchanged : {"a|1", "zz|", "X|"}) {
    std::string call = unchanged;
    std::string key = call.substr(0, call.find('|')), value = call.substr(call.find('|') + 1);
    EXPECT_EQ(Wps(messy, key == "X" ? "X" : "S", key == "X" ? nullptr : key.c_str(),
                  value.empty() ? nullptr : value.c_str()),
              messy)
        << unchanged;
  }
}

// The text before the first header belongs to no section, and every
// rewrite keeps it byte for byte, NULs, blanks and line ends included, as
// Windows does (Wine trims its lines and cuts them at a NUL). Only a line end
// is added after it when it has none.
TEST_F(ProfileServiceTest, TextBeforeTheFirstHeaderIsKeptByteForByte) {
  const std::string data("Data \0 before \0 first \0 section", 31);
  std::string written = Wps(data, "section1", "key1", "string1");
  EXPECT_EQ(written, data + "\r\n[section1]\r\nkey1=string1\r\n");
  EXPECT_EQ(written.size(), 59u);
  EXPECT_EQ(Gps(dir_ / "p.ini", "section1", "key1", "D", 100), "7 string1\\0#");
  EXPECT_EQ(Wps(data, "section1", "key1", nullptr), data);  // no change, no rewrite

  const std::string top = "  ; c0  \r\n\r\nx\0y=1\r\n=a\r\n=b\r\n\x1A\r\n"s;
  const std::string file = top + "  [S] tail\r\n a = 1 \r\n";
  EXPECT_EQ(Wps(file, "S", "b", "2"), top + "[S]\r\na=1\r\nb=2\r\n");
  EXPECT_EQ(Wps(file, "T", "t", "1"), top + "[S]\r\na=1\r\n[T]\r\nt=1\r\n");
  EXPECT_EQ(Wps(file, "S", "a", nullptr), top + "[S]\r\n");
  EXPECT_EQ(Wps(file, "S", nullptr, nullptr), top);
  EXPECT_EQ(Wps(file, "", "x", "2"), top + "[S]\r\na=1\r\n[]\r\nx=2\r\n");
  EXPECT_EQ(Wps("g=1\n\r[S]\na=1", "S", "b", "2"), "g=1\n\r[S]\r\na=1\r\nb=2\r\n");
  EXPECT_EQ(Wps("g=1\r", "S", "b", "2"), "g=1\r[S]\r\nb=2\r\n");
  EXPECT_EQ(Wps(" \t", "S", "b", "2"), " \t\r\n[S]\r\nb=2\r\n");

  // Unicode files keep it in their encoding, bytes that are not UTF-8 too.
  const std::string utf8 = "\xEF\xBB\xBF;\xC3\xA9 \xFF\0x\r\n[S]\r\n"s;
  EXPECT_EQ(Wps(utf8, "S", "b", "\xE9"), utf8 + "b=\xC3\xA9\r\n");
  auto utf16 = [](const std::string& text) {
    std::string out("\xFF\xFE", 2);
    for (char c : text) out += std::string{c, '\0'};
    return out;
  };
  EXPECT_EQ(Wps(utf16(" g\0=1\r\n[S]\r\n"s), "S", "b", "2"), utf16(" g\0=1\r\n[S]\r\nb=2\r\n"s));
}

TEST_F(ProfileServiceTest, FailedWritesSetTheWindowsErrorAndChangeNothing) {
  EXPECT_EQ(Wps("[S]\r\nk=1\r\n", nullptr, nullptr, nullptr), "failed, error 0");
  EXPECT_EQ(Wps("[S]\r\nk=1\r\n", nullptr, "k", "v"), "failed, error 2");

  fs::path missingDir = dir_ / "nodir" / "x.ini";
  for (const char* value : {"v", static_cast<const char*>(nullptr)}) {
    EXPECT_FALSE(service_.WriteString("S", "k", value, missingDir, &error_));
    EXPECT_EQ(error_, kErrorPathNotFound);
  }
  fs::path missing = dir_ / "missing.ini";
  EXPECT_FALSE(service_.WriteString(nullptr, nullptr, nullptr, missing, &error_));
  EXPECT_EQ(error_, kErrorFileNotFound);
  EXPECT_FALSE(fs::exists(missing));

  dir_.MakeFolder("folder.ini");
  EXPECT_FALSE(service_.WriteString("S", "k", "v", dir_ / "folder.ini", &error_));
  EXPECT_EQ(error_, kErrorAccessDenied);
  EXPECT_FALSE(service_.WriteString("S", "k", "v", fs::path(), &error_));
  EXPECT_EQ(error_, kErrorPathNotFound);

  // A read-only file refuses every form of write, even those that change
  // nothing (checked by permission, so also when running as root).
  fs::path file = File("[S]\r\nk=1\r\n");
  MakeReadOnly(file);
  const char* calls[][3] = {{"S", "k", "2"}, {"S", "k", nullptr}, {"S", nullptr, nullptr},
                            {"S", "k", "1"}, {"S", "x", nullptr}, {nullptr, nullptr, nullptr}};
  for (auto& call : calls) {
    error_ = 0;
    EXPECT_FALSE(service_.WriteString(call[0], call[1], call[2], file, &error_));
    EXPECT_EQ(error_, kErrorAccessDenied);
  }
  EXPECT_EQ(dir_.Read("p.ini"), "[S]\r\nk=1\r\n");
  fs::permissions(file, fs::perms::owner_write, fs::perm_options::add);

  // No temporary file is left beside the profile.
  EXPECT_TRUE(service_.WriteString("S", "k", "3", file, &error_));
  int files = 0;
  for (const auto& entry : fs::directory_iterator(dir_.path())) files += entry.is_regular_file();
  EXPECT_EQ(files, 1);
}

// A delete (of a key or of a section, with or without a value) on a file
// that does not exist succeeds and leaves an empty file, as on Windows (Wine
// creates none). Only a flush or a missing folder fail.
TEST_F(ProfileServiceTest, DeletingFromAMissingFileLeavesAnEmptyFile) {
  const char* deletes[][3] = {
      {"App", nullptr, "string"}, {"App", "key", nullptr}, {"App", nullptr, nullptr}};
  int n = 0;
  for (auto& call : deletes) {
    std::string name = "missing" + std::to_string(++n) + ".ini";
    error_ = 0xDEADBEEF;
    EXPECT_TRUE(service_.WriteString(call[0], call[1], call[2], dir_ / name, &error_)) << name;
    EXPECT_EQ(dir_.Read(name).value_or("(missing)"), "") << name;
    // The new empty file reads like any other.
    EXPECT_EQ(Gps(dir_ / name, "App", "key", "D", 10), "1 D\\0#");
    EXPECT_EQ(error_, kErrorFileNotFound);
  }
  for (auto& call : deletes) {
    EXPECT_FALSE(service_.WriteString(call[0], call[1], call[2], dir_ / "nodir/x.ini", &error_));
    EXPECT_EQ(error_, kErrorPathNotFound);
  }
  EXPECT_FALSE(fs::exists(dir_ / "nodir"));
  error_ = 0;
  EXPECT_FALSE(service_.WriteString(nullptr, nullptr, nullptr, dir_ / "flush.ini", &error_));
  EXPECT_EQ(error_, kErrorFileNotFound);
  EXPECT_FALSE(fs::exists(dir_ / "flush.ini"));
}

// The cache serves a file until it changes, by whatever writer.
TEST_F(ProfileServiceTest, ChangesByOthersAreSeenAtOnce) {
  fs::path file = File("[S]\r\nk=1\r\n");
  EXPECT_EQ(Gps(file, "S", "k", "D", 10), "1 1\\0#");
  dir_.Write("p.ini", "[S]\r\nk=2\r\n");
  EXPECT_EQ(Gps(file, "S", "k", "D", 10), "1 2\\0#");
  ProfileService other;
  uint32_t error = 0;
  ASSERT_TRUE(other.WriteString("S", "k", "3", file, &error));
  EXPECT_EQ(Gps(file, "S", "k", "D", 10), "1 3\\0#");
  // Same size, last-write time set back: still seen.
  auto time = fs::last_write_time(file);
  dir_.Write("p.ini", "[S]\r\nk=4\r\n");
  fs::last_write_time(file, time);
  EXPECT_EQ(Gps(file, "S", "k", "D", 10), "1 4\\0#");
  // An old file replaced by another one of the same size and time: seen.
  auto old = fs::file_time_type::clock::now() - std::chrono::hours(1);
  fs::last_write_time(file, old);
  EXPECT_EQ(Gps(file, "S", "k", "D", 10), "1 4\\0#");
  dir_.Write("other.ini", "[S]\r\nk=5\r\n");
  fs::last_write_time(dir_ / "other.ini", old);
  fs::rename(dir_ / "other.ini", file);
  EXPECT_EQ(Gps(file, "S", "k", "D", 10), "1 5\\0#");
  fs::remove(file);
  EXPECT_EQ(Gps(file, "S", "k", "D", 10), "1 D\\0#");
}

TEST_F(ProfileServiceTest, HostileContentIsReadSafely) {
  std::string junk;
  for (uint32_t i = 0; i < 3u << 20; ++i) junk += static_cast<char>((i * 7919u) >> 3);
  fs::path file = File(junk + "\r\n[S]\r\nk=v");
  EXPECT_EQ(Gps(file, "S", "k", "D", 4), "1 v\\0#");
  std::vector<char> buffer(4096, '#');
  service_.ReadString(nullptr, nullptr, "", buffer.data(), 4096, file, &error_);
  EXPECT_EQ(Gps(std::string(5 << 20, '['), "S", "k", "D", 10), "1 D\\0#");
  EXPECT_EQ(Gps(std::string(1 << 20, '\0') + "\r\n[S]\r\nk=v", "S", "k", "D", 10), "1 v\\0#");

  // Files above the size limit are refused like unreadable ones.
  std::string huge(ProfileService::kMaxFileBytes + 1, '\n');
  EXPECT_EQ(Gps(huge + "[S]\r\nk=v", "S", "k", "D", 10), "1 D\\0#");
  EXPECT_EQ(error_, kErrorNotEnoughMemory);
}

// A profile is parsed once per change whatever its size, and read in time
// proportional to its keys: the import reads a 14 MB control profile once per
// [CurrentJobs] line and every key of a section one by one.
TEST_F(ProfileServiceTest, LargeProfilesAreParsedOnceAndIndexed) {
  std::string text = "[Settings]\r\n";
  for (int k = 0; text.size() < (9u << 20); ++k) {
    text += "Key" + std::to_string(k) + "=value " + std::to_string(k) + "\r\n";
  }
  text += "[Other]\r\nlast=1\r\n";
  fs::path file = File(text);
  fs::last_write_time(file, fs::file_time_type::clock::now() - std::chrono::hours(1));
  uint64_t before = service_.parses();
  for (int i = 0; i < 200; ++i) {
    EXPECT_EQ(Gps(file, "settings", (" KEY" + std::to_string(i * 997) + " ").c_str(), "D", 64),
              std::to_string(6 + std::to_string(i * 997).size()) + " value " +
                  std::to_string(i * 997) + "\\0#");
  }
  EXPECT_EQ(Gps(file, "Other", "LAST", "D", 10), "1 1\\0#");
  EXPECT_EQ(Gps(file, "Settings", "missing", "D", 10), "1 D\\0#");
  EXPECT_EQ(service_.parses() - before, 1u);
}

}  // namespace
