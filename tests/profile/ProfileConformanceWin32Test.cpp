// The portable profile service against the real Windows profile service,
// call by call: GetPrivateProfileStringA, GetPrivateProfileIntA and
// WritePrivateProfileStringA on hand-written tricky profiles and on a couple
// of thousand generated ones (CHECKLUM_PROFILE_CASES sets how many). Return
// values, every byte of the pre-filled buffers, last-error codes where the
// real service sets them, and the files' bytes after writes must agree.
// Where Wine differs from Windows, departs from the documented behaviour, or
// loses data that the portable service keeps, the case is counted apart
// under a name that says which. Wine differs from Windows (as Wine's own
// tests, which pass on Windows, show) in a cut list's last byte, in what
// section "" names, in the last error of a read that finds nothing, in
// deletes on a missing file and in the text before the first header, which a
// Wine rewrite changes. The documented rule is kept for a quoted value that
// just fits; headers with an empty name and bytes that are not UTF-8 in a
// UTF-8 file survive a rewrite here. Read-only files are not compared: Wine
// running as root writes them.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "platform/ProfileNames.h"
#include "platform/WinError.h"
#include "platform/portable/profile/ProfileService.h"
#include "platform/portable/profile/ProfileText.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;
using namespace std::string_literals;

namespace {

constexpr uint32_t kMarker = 0xE0E0;
constexpr const char* kNoFile = "(missing)";
constexpr const char* kEmptySectionRead =
    "Wine differs from Windows: section \"\" reads the lines before the first header";
constexpr const char* kBadUtf8 = "data Wine loses kept: bytes that are not UTF-8 in a UTF-8 file";

std::string Escape(std::string_view text) {
  std::string out;
  for (char c : text) {
    auto byte = static_cast<unsigned char>(c);
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\\') {
      out += "\\\\";
    } else if (byte >= 0x20 && byte < 0x7F) {
      out += c;
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", byte);
      out += hex;
    }
  }
  return out;
}

// A pre-filled buffer with its run of unwritten bytes at the end shown as
// one '#'.
std::string Shown(const std::vector<char>& buffer) {
  size_t end = buffer.size();
  while (end > 0 && buffer[end - 1] == '#') --end;
  return Escape({buffer.data(), end}) + (end < buffer.size() ? "#" : "");
}

// Whether a file with a UTF-8 byte-order mark holds bytes that are not
// UTF-8 (this Wine reads them as U+FFFD, swallowing a byte at the end).
bool HasBadUtf8(const std::string& content) {
  if (!content.starts_with("\xEF\xBB\xBF")) return false;
  std::wstring wide(content.size(), L'\0');
  return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, content.data() + 3,
                             static_cast<int>(content.size() - 3), wide.data(),
                             static_cast<int>(wide.size())) == 0 &&
         content.size() > 3;
}

// Whether a section argument names section "" once trimmed.
bool IsEmptyName(const char* section) {
  return section != nullptr && TrimProfileBlanks(section).empty();
}

bool HasEmptyHeader(const std::string& content) {
  ProfileText text = ProfileText::Parse(content);
  for (const ProfileSection& section : text.sections()) {
    if (section.name.size == 0) return true;
  }
  return false;
}

// A profile's text, decoded, split where its first header's line starts.
struct Split {
  ProfileEncoding encoding;
  std::string top, rest;
};

Split SplitAtFirstHeader(const std::string& bytes) {
  ProfileText text = ProfileText::Parse(bytes);
  std::string all(text.Text({0, std::numeric_limits<uint32_t>::max()}));
  size_t top = text.preamble().size;
  return {text.encoding(), all.substr(0, top), all.substr(top)};
}

// The text before the first header as a rewrite of `before` must keep it:
// every byte, with CR LF after it when it has no line end of its own.
std::string KeptTop(const std::string& before) {
  std::string top = SplitAtFirstHeader(before).top;
  if (!top.empty() && top.back() != '\r' && top.back() != '\n') top += "\r\n";
  return top;
}

// A rewrite without its "[]" header lines (each starts the file or follows
// a CR or LF: the text before the first header may end in a lone CR).
std::string WithoutEmptyHeaders(const std::string& text) {
  std::string out;
  for (size_t pos = 0; pos < text.size();) {
    bool lineStart = pos == 0 || text[pos - 1] == '\r' || text[pos - 1] == '\n';
    if (lineStart && text.compare(pos, 4, "[]\r\n") == 0) {
      pos += 4;
    } else {
      out += text[pos++];
    }
  }
  return out;
}

std::string Arg(const char* text) {
  return text ? "\"" + Escape(text) + "\"" : "NULL";
}

std::string ReadFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return kNoFile;
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const fs::path& file, const std::string& bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Profiles written by hand: the tricky shapes of every lexical rule.
const std::vector<std::string>& HandCorpus() {
  static const std::vector<std::string> corpus = {
      "",
      "[Sec]\r\nk=v\r\n",
      "[ Sec ]\r\nk=v\r\n[\tT\t]\r\nt=1",
      "[S e c]\r\nk=v",
      "[Sec\r\nk=v\r\n",
      "[Sec\r\nk=v\r\n[T]\r\nt=1",
      "[Sec] trailing text\r\nk=v\r\n[T];comment\r\nx=1",
      "  [Sec]  \r\nk=v\r\n\t[T]\r\nt=2",
      "[Se]c]\r\nk=v\r\n[Sec] x]\r\ny=1\r\n[Se[c]\r\nz=2",
      "[]\r\nk=v\r\n[   ]\r\nj=w",
      "k0=g\r\n[]\r\nk=v",
      "x[Sec]\r\nk=v",
      "\x1A[S]\r\na=1\r\n\x1A",
      "[S]\r\n\x1A\r\na=1\r\n",
      "[S]\r\nk=\x1Av\x1A\r\n\x1A k2=1\r\n  \x1A[T]\r\nt=1\r\n\x1A\x1A[U]\r\nu=1\r\n",
      "[S]\r\na=1\r\n\x1A[T]\r\nt=1\r\n[U]\x1A\r\nu=2\r\n[\x1AV\x1A]\r\nv=3\r\n",
      "[S]\r\nk=\x1Cv\x1D\r\nv=\x1Ev\x1F\r\nq=\x85v\xA0\r\nr=\x01v\x7F\r\nn=\x0Bv\r\n",
      "\xEF\xBB\xBF",
      "\xFF\xFE"s,
      "\xEF\xBB\xBF[S]\r\nk=\xC9v\r\nv=\xE9\r\n",
      "\x1A\r\n\x1Ak=1\r\n \x1A=2\r\n[S]\r\n",
      "[S]\r\n  k  =  v  \r\nK2=w\r\na b=x\r\n\tt\t=\ty\t\r\n",
      "[S]\r\ndq=\"v\"\r\nsq='v'\r\ndqsp=\" v \"\r\ndqout=  \"v\"  \r\nudq1=\"v\r\nudq2=v\"\r\n"
      "usq1='v\r\nmix='v\"\r\nmix2=\"v'\r\ninner=\"a\"b\"\r\ninner2=a\"b\"c\r\nq1=\"\r\nq2=\"\"\r\n"
      "q3=''\r\nq4=\"a\" x\r\neq=a=b=c\r\neqsp=a = b\r\nempty=\r\nemptysp=   \r\n"
      "inl=v ;comment\r\ntabv=\tv\tw\t\r\nv=\v x \f\r\n",
      "[S]\r\nb=x\0y\r\nc=2\r\na\0=1\r\n"s,
      "[S]\r\nnoeq\r\n  noeq2  \r\nz=1\r\n;c1=1\r\n  ;c=1\r\n;c4\r\n#c2=2\r\ny=2\r\n",
      "[S]\r\n=e\r\ny=2\r\n",
      "[S]\r\nz=1\r\n=a\r\n=b\r\ny=2\r\n",
      "[S]\r\nz=1\r\n=a\r\nx=0\r\n  =b\r\ny=2\r\n",
      "[S]\r\nz=1\r\n=a\r\n;c=1\r\n=b\r\ny=2\r\n",
      "[S]\r\nz=1\r\n=a\r\nnoeq\r\n=b\r\ny=2\r\n",
      "g1=a\r\n\r\n  \r\ng2=b\r\n[S]\r\n\r\nk=v\r\n\r\n\r\n[T]\r\nx=y",
      "[S]\r\na=1\r\nc=first\r\n[T]\r\nt=1\r\n[S]\r\na=2\r\nb=3",
      "[Sec]\r\na=1\r\n[SEC]\r\na=2\r\nb=3",
      "[S]\r\na=1\r\nb=x\r\na=2\r\nA=3",
      "[S]\r\nKey=1\r\nKEY=2",
      "[S]\r\na=\r\na=2",
      "[S]\r\na\r\na=2",
      "[S]\na=1\nb=2\n[T]\nc=3",
      "[S]\ra=1\rb=2\r[T]\rc=3\r",
      "[S]\r\na=1\nb=2\rc=3\r\n\n\rd=4\n\r[T]\r\ne=5",
      "[S]\r\na=1\r\r\nb=2\r\n",
      "[S]\r\na=1\r\n\0\r\nc=3\r\n[T]\r\nd=4"s,
      "[S\0x]\r\na=1\r\n[T]\r\n\0b=2\r\n"s,
      "[S\xE9]\r\nk\xE9=v\xE9\xFF\x80\r\n",
      "[S]\r\nv=\x81\x8D\x8F\x90\x9D\r\n",
      "\xEF\xBB\xBF[S]\r\nk=\xC3\xA9\xE2\x82\xAC\r\n[T]\r\nt=1\r\n",
      "[S]\r\nk=\xC3\xA9\r\n",
      "\xFF\xFE[\0S\0]\0\r\0\n\0k\0=\0v\0\xE9\0\xAC\x20\r\0\n\0[\0T\0]\0\r\0\n\0t\0=\0001\0"s,
      "\xFE\xFF\0[\0S\0]\0\r\0\n\0k\0=\0v\0\r\0\n"s,
      "[S]\r\nempty=\r\nblank=   \r\nk=v\r\n[E]\r\n[T]\r\nx=1",
      "[S]\r\nv=abcdefghij\r\nq=\"abcdefghij\"\r\nr=\"abc\"\r\nk1=1\r\nkey2=2\r\nk3=3\r\n[T2]\r\n"
      "[Third]\r\n",
      "[S]\r\nn1=12\r\nn2=  12\r\nn3=+12\r\nn4=-12\r\nn5=007\r\nn6=010\r\nn7=0x10\r\nn8=-0x10\r\n"
      "n9=0X1f\r\nn10=0x\r\nn11=0x1G\r\nn12=00x10\r\nn13=0o17\r\nn14=0b101\r\nn15=12abc\r\n"
      "n16=1.5\r\nn17=abc\r\nn18=- 5\r\nn19=--5\r\nn20=+\r\nn21=\"12\"\r\nn22='7'\r\n"
      "n23=2147483648\r\nn24=4294967296\r\nn25=99999999999999999999\r\nn26=-2147483649\r\n"
      "n27=0xFFFFFFFF\r\nn28=0x100000000\r\nn29=\r\nn30=   \r\nn31=0b2\r\nn32=0o8\r\n"
      "n33=123456789012345678901234567890\r\nn34=0B1\r\nn35=0O7\r\n",
  };
  return corpus;
}

// Generated profiles: small pools of names so that duplicates and case
// variants are frequent, every kind of odd line, all three line ends.
class Generator {
 public:
  explicit Generator(uint32_t seed) : random_(seed) {}

  std::string Profile() {
    std::string out;
    if (Chance(2)) out += "\xEF\xBB\xBF";
    int lines = Pick(14);
    for (int i = 0; i < lines; ++i) {
      int kind = Pick(20);
      if (kind < 4) {
        out += Blanks() + "[" + Blanks() + Name(kSections) + Blanks() + (Chance(8) ? "" : "]") +
               (Chance(10) ? " tail]x" : "") + Blanks();
      } else if (kind < 15) {
        out += Blanks() + Name(kKeys) + Blanks() + "=" + Blanks() + Value() + Blanks();
      } else if (kind < 16) {
        out += Blanks() + ";" + Name(kKeys) + (Chance(2) ? "=c" : "");
      } else if (kind < 17) {
        out += Blanks() + Name(kKeys) + Blanks();
      } else if (kind < 18) {
        out += Blanks();
      } else if (kind < 19) {
        out += Chance(3) ? "\x1A"s : Chance(2) ? "x\0y=1"s : "[S"s;
      } else {
        out += Name(kKeys) + "=" + std::string(Pick(300) + (Chance(4) ? 4000 : 0), 'L');
      }
      if (i + 1 < lines || !Chance(4)) out += kEnds[Pick(Chance(3) ? 3 : 1)];
    }
    return out;
  }
  std::string Value() {
    static const char* const values[] = {
        "",    "v",  "V v",      "\"q\"", "'q'", "\"q",  "q'", "\" q \"",
        "a=b", "12", "-5",       "0x1F",  "0o7", "0b11", "+3", "99999999999",
        "x;y", "\t", "\xE9\xFF", "\"\"",  "0",   "1 2",  "-",  "abcdefghijklmnop"};
    if (Chance(12)) return std::string(Pick(100), "ab\"' "[Pick(5)]);
    return values[Pick(std::size(values))];
  }
  std::string Name(int pool) {
    static const char* const sections[] = {"S", "s", "Sec", "SEC", "T", "a b", "x]y", "", "\xE9"};
    static const char* const keys[] = {"k",  "K", "key",  "KEY", "a b", "", "#h",
                                       "k2", "v", "\xC9", "n",   "x",   "q"};
    return pool == kSections ? sections[Pick(std::size(sections))] : keys[Pick(std::size(keys))];
  }
  std::string Blanks() {
    static const char* const blanks[] = {"", "", "", "", " ", "  ", "\t", " \t ", "\v", "\f"};
    return blanks[Pick(std::size(blanks))];
  }
  int Pick(size_t n) { return static_cast<int>(random_() % n); }
  bool Chance(int oneIn) { return Pick(oneIn) == 0; }

  static constexpr int kSections = 0, kKeys = 1;

 private:
  static constexpr const char* kEnds[] = {"\r\n", "\n", "\r"};
  std::mt19937 random_;
};

class Conformance {
 public:
  Conformance() : base_("prof" + std::to_string(GetCurrentProcessId()) + "-") {}

  // Compares every read shape on `content`, then a few writes.
  void Check(const std::string& content, Generator& gen, bool hand) {
    ++profiles_;
    content_ = content;
    fs::path file = dir_ / (base_ + std::to_string(profiles_) + ".ini");
    WriteFile(file, content);
    std::vector<const char*> sections = {nullptr, "",    "S",    "s ",   " SEC", "sec", "T",
                                         "a b",   "x]y", "\xE9", "\xC9", "T2",   "E",   "Missing"};
    std::vector<const char*> keys = {nullptr, "",  "k", "K ", "key", " a b", "#h",   ";c1", "v",
                                     "q",     "r", "n", "x",  "t",   "a",    "\xC9", "b",   "n25"};
    // Every pair for the hand-written profiles, a sample for generated ones.
    for (size_t i = 0; i < sections.size() * keys.size(); ++i) {
      size_t pick = hand ? i : gen.Pick(sections.size() * keys.size());
      if (!hand && i >= 8) break;
      const char* section = sections[pick / keys.size()];
      const char* key = keys[pick % keys.size()];
      ReadCalls(file, section, key, gen);
      CompareInt(file, section, key, gen.Chance(2) ? 77 : -5);
    }
    for (size_t i = 1; i < sections.size(); ++i) {
      if (hand || gen.Chance(20)) CompareSectionReads(file, sections[i], gen);
    }
    for (int n = 1; hand && n <= 35; ++n) {
      std::string key = "n" + std::to_string(n);
      CompareInt(file, "S", key.c_str(), 77);
    }
    WriteCalls(file, gen);
    std::error_code ec;
    fs::remove(file, ec);
  }

  void MissingFileCalls() {
    fs::path file = dir_ / (base_ + "missing.ini");
    Generator gen(1);
    content_ = "(no file)";
    for (const char* section : {static_cast<const char*>(nullptr), "S"}) {
      for (const char* key : {static_cast<const char*>(nullptr), "k"}) {
        ReadCalls(file, section, key, gen);
        CompareInt(file, section, key, 77);
      }
    }
    // Writes to a missing file, each on a pair of files of its own, so that
    // whether a file is made is compared too.
    const char* writes[][3] = {{nullptr, nullptr, nullptr},
                               {"S", "k", nullptr},
                               {"S", nullptr, "string"},
                               {"S", nullptr, nullptr}};
    int n = 0;
    for (auto& write : writes) {
      std::string name = base_ + "gone" + std::to_string(++n);
      CompareWrite(dir_ / (name + ".real.ini"), dir_ / (name + ".mine.ini"), write[0], write[1],
                   write[2]);
    }
    CompareWrite(dir_ / "nodir" / "x.ini", dir_ / "nodir" / "x.ini", "S", "k", "v");
    CompareWrite(dir_ / "nodir" / "x.ini", dir_ / "nodir" / "x.ini", "S", nullptr, nullptr);
    fs::create_directory(dir_ / (base_ + "folder.ini"));
    for (const fs::path& odd : {dir_ / "nodir" / "x.ini", dir_ / (base_ + "folder.ini")}) {
      content_ = "(" + odd.filename().string() + ")";
      ReadCalls(odd, "S", "k", gen);
      ReadCalls(odd, "S", nullptr, gen);
      ReadCalls(odd, nullptr, nullptr, gen);
      CompareInt(odd, "S", "k", 77);
    }
    CompareWrite(dir_ / (base_ + "folder.ini"), dir_ / (base_ + "folder.ini"), "S", "k", "v");
  }

  int profiles() const { return profiles_; }
  int calls() const { return calls_; }
  const std::map<std::string, int>& excluded() const { return excluded_; }
  const std::vector<std::string>& differences() const { return differences_; }

 private:
  void ReadCalls(const fs::path& file, const char* section, const char* key, Generator& gen) {
    static const char* const defaults[] = {"D",       nullptr, "",      "DEF   ",
                                           "\"DEF\"", "   ",   " 'x' ", "DEFAULTLONG"};
    const char* def = defaults[gen.Pick(std::size(defaults))];
    uint32_t length = CompareRead(file, section, key, def, 8192);
    std::vector<uint32_t> sizes = {0, 1, 2, 3, 4, 5, length, length + 1, length + 2, length + 3};
    if (length > 2) sizes.push_back(length - 1);
    if (length > 3) sizes.push_back(length - 2);
    for (int i = 0; i < 3; ++i) CompareRead(file, section, key, def, sizes[gen.Pick(sizes.size())]);
    if (length > 4096) CompareRead(file, section, key, def, 4096);
  }

  // GetPrivateProfileSectionA against the service, whole and cut.
  void CompareSectionReads(const fs::path& file, const char* section, Generator& gen) {
    uint32_t length = CompareSectionRead(file, section, 8192);
    // No size 0: this Wine writes before the buffer then (the service writes
    // nothing).
    std::vector<uint32_t> sizes = {1, 2, 3, 5, length, length + 1, length + 2};
    if (length > 2) sizes.push_back(length - 1);
    for (int i = 0; i < 3; ++i) {
      uint32_t size = sizes[gen.Pick(sizes.size())];
      if (size > 0) CompareSectionRead(file, section, size);
    }
  }

  uint32_t CompareSectionRead(const fs::path& file, const char* section, uint32_t size) {
    ++calls_;
    std::vector<char> real(size + 1, '#'), mine(size + 1, '#');
    SetLastError(kMarker);
    uint32_t realRet = GetPrivateProfileSectionA(section, real.data(), size, file.string().c_str());
    uint32_t realError = GetLastError();
    uint32_t myError = kMarker;
    uint32_t myRet = service_.ReadSection(section, mine.data(), size, file, &myError);
    if (mine[size] != '#') Differ("section read wrote past the buffer", section, "", "", size);
    if (realRet == myRet && real == mine && realError == myError) return realRet;
    if (size == 1 && real[1] == '\0' && mine[1] == '#') {
      // This Wine writes a second NUL behind a one-byte buffer.
      ++excluded_["Wine differs: a one-byte section buffer gets a NUL behind it"];
    } else if (HasBadUtf8(content_)) {
      ++excluded_[kBadUtf8];
    } else if (IsEmptyName(section)) {
      ++excluded_[kEmptySectionRead];
    } else if (content_.find('\0') != std::string::npos) {
      // A NUL inside a value: Wine's list ends there, the service keeps the
      // lines after it, as a read by name does.
      ++excluded_["Wine differs: a section's list ends at a NUL inside a value"];
    } else {
      Differ("section read: ret " + std::to_string(realRet) + " \"" + Shown(real) + "\" error " +
                 std::to_string(realError) + " vs mine " + std::to_string(myRet) + " \"" +
                 Shown(mine) + "\" error " + std::to_string(myError),
             section, "", "", size);
    }
    return realRet;
  }

  uint32_t CompareRead(const fs::path& file, const char* section, const char* key, const char* def,
                       uint32_t size) {
    ++calls_;
    std::vector<char> real(size + 1, '#'), mine(size + 1, '#');
    SetLastError(kMarker);
    uint32_t realRet =
        GetPrivateProfileStringA(section, key, def, real.data(), size, file.string().c_str());
    uint32_t realError = GetLastError();
    uint32_t myError = kMarker;
    uint32_t myRet = service_.ReadString(section, key, def, mine.data(), size, file, &myError);
    if (mine[size] != '#') Differ("wrote past the buffer", section, key, def, size);
    // A list that does not fit: Windows closes it with two NULs (Wine's own
    // tests show it for a 16-byte buffer), Wine leaves the last byte alone.
    bool list = section == nullptr || key == nullptr;
    if (list && realRet == myRet && size >= 2 && myRet == size - 2 && real[size - 1] == '#' &&
        mine[size - 1] == '\0') {
      ++excluded_["Wine differs from Windows: a cut list's last byte is not written"];
      real[size - 1] = '\0';
    }
    // A quoted value (or default) whose text just fits: this Wine drops its
    // last character, the documented rule keeps what fits.
    if (!list && size == 1 && realError == kErrorInvalidParameter && myError == 0) {
      ++excluded_["documented rule kept: a quoted value that just fits"];
      return realRet;
    }
    if (realRet + 1 == myRet && myRet + 1 == size &&
        std::string(real.data(), realRet) == std::string(mine.data(), realRet)) {
      ++excluded_["documented rule kept: a quoted value that just fits"];
      return realRet;
    }
    if ((realRet != myRet || real != mine) && HasBadUtf8(content_)) {
      ++excluded_[kBadUtf8];
      return realRet;
    }
    // A read that finds no such section or key: Windows sets the last error
    // to 2 (or leaves it alone), Wine sets 0.
    if (realRet == myRet && real == mine && realError == kErrorSuccess &&
        myError == kErrorFileNotFound) {
      ++excluded_["Wine differs from Windows: the last error is 0 after a read that finds nothing"];
      return realRet;
    }
    // Section "": Windows reads the first header with an empty name, Wine
    // the lines before the first header (a section every non-empty file has).
    if (IsEmptyName(section) && (realRet != myRet || real != mine || realError != myError)) {
      ++excluded_[kEmptySectionRead];
      return realRet;
    }
    if (realRet != myRet || real != mine) {
      Differ("read: ret " + std::to_string(realRet) + " \"" + Shown(real) + "\" vs mine " +
                 std::to_string(myRet) + " \"" + Shown(mine) + "\"",
             section, key, def, size);
    } else if (realError != myError && (realError != kMarker || myError != 0)) {
      Differ("read error " + std::to_string(realError) + " vs mine " + std::to_string(myError),
             section, key, def, size);
    }
    return realRet;
  }

  void CompareInt(const fs::path& file, const char* section, const char* key, int32_t def) {
    ++calls_;
    uint32_t realRet = GetPrivateProfileIntA(section, key, def, file.string().c_str());
    uint32_t error = kMarker;
    uint32_t myRet = service_.ReadInt(section, key, def, file, &error);
    if (realRet != myRet && IsEmptyName(section)) {
      ++excluded_[kEmptySectionRead];
    } else if (realRet != myRet && !HasBadUtf8(content_)) {
      Differ("int: " + std::to_string(realRet) + " vs mine " + std::to_string(myRet), section, key,
             nullptr, def);
    }
  }

  void WriteCalls(const fs::path& file, Generator& gen) {
    fs::path real = file, mine = file;
    real += ".real";
    mine += ".mine";
    WriteFile(real, content_);
    WriteFile(mine, content_);
    static const char* const sections[] = {"S", " s ", "SEC", "T", "New", "", "a b", "x]y"};
    static const char* const keys[] = {"k", "K", " key ", "a b", "", "#h", "new", "n", "v"};
    for (int i = 0, count = 1 + gen.Pick(3); i < count; ++i) {
      const char* section = sections[gen.Pick(std::size(sections))];
      const char* key = gen.Chance(8) ? nullptr : keys[gen.Pick(std::size(keys))];
      std::string value = gen.Value();
      if (gen.Chance(4)) value = " " + value + "  ";
      CompareWrite(real, mine, section, key, gen.Chance(5) ? nullptr : value.c_str());
    }
    std::error_code ec;
    fs::remove(real, ec);
    fs::remove(mine, ec);
  }

  void CompareWrite(const fs::path& real, const fs::path& mine, const char* section,
                    const char* key, const char* value) {
    ++calls_;
    std::string before = ReadFile(mine);
    SetLastError(kMarker);
    bool realRet = WritePrivateProfileStringA(section, key, value, real.string().c_str()) != 0;
    uint32_t realError = GetLastError();
    uint32_t myError = kMarker;
    bool myRet = service_.WriteString(section, key, value, mine, &myError);
    std::string call = "write " + Arg(section) + ", " + Arg(key) + ", " + Arg(value) + " on \"" +
                       Escape(before) + "\"";
    if (realRet != myRet) {
      Differ(call + ": ret " + std::to_string(realRet) + " vs mine " + std::to_string(myRet));
    } else if (!realRet && realError != myError) {
      Differ(call + ": error " + std::to_string(realError) + " vs mine " + std::to_string(myError));
    }
    std::string realBytes = ReadFile(real), myBytes = ReadFile(mine);
    // Section "": Windows writes to the first header with an empty name (made
    // at the end when there is none), Wine to the lines before the first
    // header.
    if (realBytes != myBytes && IsEmptyName(section)) {
      ++excluded_["Wine differs from Windows: section \"\" is written before the first header"];
      WriteFile(mine, realBytes);
      return;
    }
    // A delete on a missing file: Windows leaves an empty file, Wine none.
    if (before == kNoFile && realRet && myRet && (key == nullptr || value == nullptr) &&
        realBytes == kNoFile && myBytes.empty()) {
      ++excluded_["Wine differs from Windows: deleting from a missing file makes no file"];
      return;
    }
    // Past here the service must have kept the text before the first header
    // exactly; the exclusions below compare what follows it.
    Split realSplit = SplitAtFirstHeader(realBytes), mySplit = SplitAtFirstHeader(myBytes);
    bool keptTop = myBytes == before ||
                   (mySplit.top == KeptTop(before) && realSplit.encoding == mySplit.encoding);
    // This Wine drops headers with an empty name when it rewrites a file, so
    // their keys slip into the section above; they are kept here.
    if (realBytes != myBytes && keptTop && HasEmptyHeader(before) &&
        SplitAtFirstHeader(WithoutEmptyHeaders(mySplit.top + mySplit.rest)).rest ==
            realSplit.rest) {
      ++excluded_["data Wine loses kept: a rewrite keeps headers with an empty name"];
      WriteFile(mine, realBytes);
      return;
    }
    // The text before the first header: Windows keeps every byte of it, Wine
    // trims its lines, drops blank ones and cuts them at a NUL.
    if (realBytes != myBytes && keptTop && realSplit.rest == mySplit.rest) {
      ++excluded_["Wine differs from Windows: a rewrite changes the text before the first header"];
      WriteFile(mine, realBytes);
      return;
    }
    // This Wine writes bytes that are not UTF-8 in a UTF-8 file back as
    // U+FFFD; they are kept here, as a service that reads such files as
    // ANSI keeps them.
    if (realBytes != myBytes && HasBadUtf8(before)) {
      ++excluded_[kBadUtf8];
      WriteFile(mine, realBytes);
      return;
    }
    if (realBytes != myBytes) {
      Differ(call + ": file \"" + Escape(realBytes) + "\" vs mine \"" + Escape(myBytes) + "\"");
      WriteFile(mine, realBytes);  // go on from the same content
    }
  }

  void Differ(const std::string& what, const char* section, const char* key, const char* def,
              int64_t size) {
    Differ(what + " for (" + Arg(section) + ", " + Arg(key) + ", " + Arg(def) + ", " +
           std::to_string(size) + ") on \"" + Escape(content_) + "\"");
  }
  void Differ(const std::string& what) {
    if (differences_.size() < 100000) differences_.push_back(what);
  }

  TempDir dir_;
  std::string base_;
  ProfileService service_;
  std::string content_;
  int profiles_ = 0;
  int calls_ = 0;
  std::map<std::string, int> excluded_;
  std::vector<std::string> differences_;
};

TEST(ProfileConformanceWin32, PortableServiceAgreesWithTheRealService) {
  Conformance conformance;
  Generator gen(20261208);
  for (const std::string& content : HandCorpus()) conformance.Check(content, gen, true);
  int hand = conformance.profiles();
  const char* count = std::getenv("CHECKLUM_PROFILE_CASES");
  int generated = count ? std::atoi(count) : 2500;
  for (int i = 0; i < generated; ++i) conformance.Check(gen.Profile(), gen, false);
  conformance.MissingFileCalls();

  std::printf(
      "profile conformance: %d hand-written and %d generated profiles, %d calls compared, "
      "%zu differences\n",
      hand, conformance.profiles() - hand, conformance.calls(), conformance.differences().size());
  for (const auto& [name, count] : conformance.excluded()) {
    std::printf("  excluded: %s, %d calls\n", name.c_str(), count);
  }
  for (const std::string& difference : conformance.differences()) {
    ADD_FAILURE() << difference;
  }
}

}  // namespace
