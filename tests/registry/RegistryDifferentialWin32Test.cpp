// The portable registry against the real one: one generated sequence of
// registry operations runs on both, and every result, size, type, buffer
// byte and handle kind (none, predefined, new) must agree.
//
// The sequence writes strings with and without a NUL right after their data,
// queries missing values with and without a buffer, passes one variable as
// both type and size, and opens and creates HKEY_LOCAL_MACHINE itself through
// a null or empty subkey (that handle is only used to reach the test's own
// key again, never to change anything outside it).
//
// One case is excluded on purpose, because there the portable registry
// follows Windows where Wine differs: the enumeration order. Windows sorts
// subkeys by their upper-case names, Wine by their lower-case names, which
// differs for names with [ ] ^ _ ` and for some letters beyond ASCII (s caron
// against y diaeresis, for one). Subkey names here use letters, digits,
// blanks, "-", ".", e acute and y diaeresis only, whose order is the same
// both ways.
// Two limits of Wine are not exercised either: it accepts key names of 256
// characters (Windows allows 255) and fails A paths of more than about 260
// characters with error 234.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "RegistryTestEnv.h"
#include "platform/win32/EnvWin32.h"

namespace {

// Names in pairs that differ in letter case only, in code page 1252 too:
// e acute and y diaeresis with their capitals ("\xFFy" is y diaeresis and a
// "y", "\x9FY" their capitals).
const char* const kKeyNames[] = {"Alpha",     "alpha",   "ALPHA",   "Beta",   "beta", "gamma",
                                 "Gamma",     "x",       "X",       "10",     "9",    "a-b",
                                 "a.b",       "caf\xE9", "CAF\xC9", "sp ",    " sp",  "deep",
                                 "Gamma Ray", "\xFFy",   "\x9FY",   "Missing"};
// The last name is never set.
const char* const kValueNames[] = {"",      nullptr, "v",       "V",       "Value",
                                   "VALUE", "v_x",   "q\"b\\s", "caf\xE9", "CAF\xC9",
                                   "x y",   "\xFFy", "\x9FY",   "nope"};
const uint32_t kTypes[] = {kRegSz,    kRegExpandSz, kRegMultiSz, kRegBinary,
                           kRegDword, kRegQword,    kRegNone,    0x1234};

// What a failed open must not leave behind: the caller's old handle.
constexpr RegKey kOldHandle = 0x5A5A5A;

class Differential {
 public:
  Differential(Env& real, Env& portable, uint32_t seed)
      : real_(real), portable_(portable), rng_(seed) {}

  void Run(const std::string& base, int operations) {
    base_ = base;
    RegKey r = 0, p = 0;
    bool rc1 = false, rc2 = false;
    Check("create base", real_.CreateKey(kHKeyLocalMachine, base.c_str(), &r, &rc1),
          portable_.CreateKey(kHKeyLocalMachine, base.c_str(), &p, &rc2));
    handles_.push_back({r, p});
    for (int i = 0; i < operations; ++i) Step();
    for (size_t i = 0; i < handles_.size(); ++i) {
      Check("close", real_.CloseKey(handles_[i].first), portable_.CloseKey(handles_[i].second));
    }
  }
  int Compared() const { return compared_; }
  int Succeeded() const { return succeeded_; }
  const std::vector<std::string>& Differences() const { return differences_; }

 private:
  size_t Pick(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng_); }
  bool Chance(int percent) { return static_cast<int>(Pick(100)) < percent; }

  std::string Path() {
    if (Chance(5)) return "";
    if (Chance(2)) return std::string(255, 'L');  // the longest name Windows allows
    std::string path = Chance(3) ? "\\" : "";
    size_t levels = 1 + Pick(3);
    for (size_t i = 0; i < levels; ++i) {
      if (i > 0) path += Chance(10) ? "\\\\" : "\\";
      path += kKeyNames[Pick(std::size(kKeyNames))];
    }
    if (Chance(10)) path += "\\";
    return path;
  }

  std::string Data(uint32_t type) {
    if (type == kRegDword && Chance(70)) return std::string(4, static_cast<char>(Pick(256)));
    std::string data;
    size_t length = Pick(24);
    for (size_t i = 0; i < length; ++i) {
      int kind = static_cast<int>(Pick(10));
      data.push_back(kind == 0   ? '\0'
                     : kind == 1 ? static_cast<char>(0x80 + Pick(128))
                                 : static_cast<char>(0x20 + Pick(95)));
    }
    if (Chance(50) && !data.empty()) data.back() = '\0';
    return data;
  }

  void Step() {
    size_t h = Pick(handles_.size());
    auto [r, p] = handles_[h];
    std::ostringstream what;
    switch (Pick(11)) {
      case 0:
      case 1: {  // create or open
        bool create = Chance(60);
        std::string path = Path();
        const char* subkey = path.empty() && Chance(50) ? nullptr : path.c_str();
        what << (create ? "create " : "open ") << (subkey ? path.substr(0, 40) : "(null)");
        OpenBoth(what.str(), create, r, p, subkey);
        break;
      }
      case 2:
      case 3: {  // set
        const char* name = kValueNames[Pick(std::size(kValueNames) - 1)];
        uint32_t type = kTypes[Pick(std::size(kTypes))];
        std::string data = Data(type);
        // A NUL right after the data is stored with a string that lacks one.
        std::string memory = data + (Chance(50) ? '\0' : 'X');
        const uint8_t* bytes =
            Chance(3) && data.empty() ? nullptr : reinterpret_cast<const uint8_t*>(memory.data());
        uint32_t size = static_cast<uint32_t>(data.size());
        what << "set " << (name ? name : "(null)") << " type " << type << " size " << size;
        Check(what.str(), real_.SetValue(r, name, type, bytes, size),
              portable_.SetValue(p, name, type, bytes, size));
        break;
      }
      case 4:
      case 5:
      case 6: {  // query
        const char* name = kValueNames[Pick(std::size(kValueNames))];
        static const int kSizes[] = {-1, -2, 0, 1, 2, 3, 4, 5, 7, 12, 23, 24, 25, 64};
        int size = kSizes[Pick(std::size(kSizes))];
        bool wantType = Chance(80);
        uint8_t bufA[64], bufB[64];
        std::fill(std::begin(bufA), std::end(bufA), '#');
        std::fill(std::begin(bufB), std::end(bufB), '#');
        // Without a buffer the size starts at a value the call may overwrite.
        uint32_t typeA = 77, typeB = 77, sizeA = size < 0 ? 55 : size, sizeB = sizeA;
        uint8_t* dataA = size < 0 ? nullptr : bufA;
        uint8_t* dataB = size < 0 ? nullptr : bufB;
        uint32_t* sizePtrA = size == -2 ? nullptr : &sizeA;
        uint32_t* sizePtrB = size == -2 ? nullptr : &sizeB;
        // Sometimes one variable serves as both type and size.
        bool shared = wantType && size != -2 && Chance(20);
        uint32_t* typePtrA = shared ? &sizeA : wantType ? &typeA : nullptr;
        uint32_t* typePtrB = shared ? &sizeB : wantType ? &typeB : nullptr;
        what << "query " << (name ? name : "(null)") << " size " << size
             << (shared ? " (type in the size)" : "");
        Check(what.str(), real_.QueryValue(r, name, typePtrA, dataA, sizePtrA),
              portable_.QueryValue(p, name, typePtrB, dataB, sizePtrB));
        if (typeA != typeB || sizeA != sizeB || !std::equal(bufA, bufA + 64, bufB)) {
          Differ(what.str() + ": type " + std::to_string(typeA) + "/" + std::to_string(typeB) +
                 " size " + std::to_string(sizeA) + "/" + std::to_string(sizeB) + " data " +
                 std::string(reinterpret_cast<char*>(bufA), 26) + " / " +
                 std::string(reinterpret_cast<char*>(bufB), 26));
        }
        break;
      }
      case 7: {  // enumerate
        uint32_t index = static_cast<uint32_t>(Pick(8));
        static const uint32_t kChars[] = {0, 1, 2, 3, 4, 5, 6, 8, 10, 300};
        uint32_t charsA = kChars[Pick(std::size(kChars))], charsB = charsA;
        char nameA[300], nameB[300];
        std::fill(std::begin(nameA), std::end(nameA), '#');
        std::fill(std::begin(nameB), std::end(nameB), '#');
        what << "enum " << index << " chars " << charsA;
        Check(what.str(), real_.EnumKey(r, index, nameA, &charsA),
              portable_.EnumKey(p, index, nameB, &charsB));
        if (charsA != charsB || !std::equal(nameA, nameA + 300, nameB)) {
          Differ(what.str() + ": " + std::string(nameA, 20) + " / " + std::string(nameB, 20));
        }
        break;
      }
      case 8: {  // key information
        uint32_t countA = 0, countB = 0, longestA = 0, longestB = 0;
        bool both = Chance(70);
        Check("query info", real_.QueryKeyInfo(r, &countA, both ? &longestA : nullptr),
              portable_.QueryKeyInfo(p, &countB, both ? &longestB : nullptr));
        if (countA != countB || longestA != longestB) {
          Differ("query info: " + std::to_string(countA) + "/" + std::to_string(countB) + " " +
                 std::to_string(longestA) + "/" + std::to_string(longestB));
        }
        break;
      }
      case 9: {  // HKEY_LOCAL_MACHINE itself, then the test's own key below it
        bool create = Chance(50);
        const char* subkey = Chance(50) ? nullptr : "";
        what << (create ? "create" : "open") << " HKLM " << (subkey ? "\"\"" : "(null)");
        RegKey rk = kOldHandle, pk = kOldHandle;
        bool rc1 = false, rc2 = false;
        uint32_t a = create ? real_.CreateKey(kHKeyLocalMachine, subkey, &rk, &rc1)
                            : real_.OpenKey(kHKeyLocalMachine, subkey, &rk);
        uint32_t b = create ? portable_.CreateKey(kHKeyLocalMachine, subkey, &pk, &rc2)
                            : portable_.OpenKey(kHKeyLocalMachine, subkey, &pk);
        Check(what.str(), a, b);
        if (rc1 != rc2) Differ(what.str() + ": created " + std::to_string(rc1));
        CompareHandles(what.str(), a, rk, pk);
        if (a != 0 || b != 0) {
          if (a == 0) real_.CloseKey(rk);
          if (b == 0) portable_.CloseKey(pk);
          break;
        }
        if (Chance(50)) OpenBoth(what.str() + ", open the base", false, rk, pk, base_.c_str());
        Check(what.str() + ", close", real_.CloseKey(rk), portable_.CloseKey(pk));
        break;
      }
      default:  // close (never the base key)
        if (h == 0) break;
        Check("close", real_.CloseKey(r), portable_.CloseKey(p));
        handles_.erase(handles_.begin() + static_cast<std::ptrdiff_t>(h));
        break;
    }
  }

  // Opens or creates `subkey` below `r` and `p` and compares the outcomes; a
  // handle opened on both sides joins the handles in use while there is room.
  void OpenBoth(const std::string& what, bool create, RegKey r, RegKey p, const char* subkey) {
    RegKey rk = kOldHandle, pk = kOldHandle;
    bool rc1 = false, rc2 = false;
    uint32_t a = create ? real_.CreateKey(r, subkey, &rk, &rc1) : real_.OpenKey(r, subkey, &rk);
    uint32_t b =
        create ? portable_.CreateKey(p, subkey, &pk, &rc2) : portable_.OpenKey(p, subkey, &pk);
    Check(what, a, b);
    if (rc1 != rc2) Differ(what + ": created " + std::to_string(rc1));
    CompareHandles(what, a, rk, pk);
    if (a == 0 && b == 0 && handles_.size() < 40) {
      handles_.push_back({rk, pk});
      return;
    }
    if (a == 0) real_.CloseKey(rk);
    if (b == 0) portable_.CloseKey(pk);
  }

  // Both sides give the same kind of handle; a failed open (`result` is the
  // real side's) leaves none on either side, and an open of the predefined
  // key itself gives the predefined handle.
  void CompareHandles(const std::string& what, uint32_t result, RegKey rk, RegKey pk) {
    auto kind = [](RegKey key) {
      return key == 0                   ? std::string("none")
             : key == kOldHandle        ? std::string("the old handle")
             : key == kHKeyLocalMachine ? std::string("HKLM")
                                        : std::string("new");
    };
    if (kind(rk) != kind(pk)) {
      Differ(what + ": handle " + kind(rk) + "/" + kind(pk));
    } else if (result != 0 && rk != 0) {
      Differ(what + ": failed, and left " + kind(rk));
    }
  }

  void Check(const std::string& what, uint32_t a, uint32_t b) {
    ++compared_;
    succeeded_ += a == 0 && b == 0;
    if (a != b) Differ(what + ": result " + std::to_string(a) + "/" + std::to_string(b));
  }
  void Differ(const std::string& text) { differences_.push_back(text); }

  Env& real_;
  Env& portable_;
  std::string base_;
  std::mt19937 rng_;
  std::vector<std::pair<RegKey, RegKey>> handles_;
  std::vector<std::string> differences_;
  int compared_ = 0;
  int succeeded_ = 0;
};

TEST(RegistryDifferentialWin32, PortableRegistryAgreesWithTheRealRegistry) {
  std::string base = "SOFTWARE\\CheckLUMTest-" + std::to_string(GetCurrentProcessId());
  // In the process's own view: a 64-bit process that asks Wine for the
  // 32-bit view gets its key paths taken apart piece by piece, which lets a
  // leading or doubled backslash pass where Windows refuses it (161). The
  // product, a 32-bit process, is in that view without asking.
  EnvWin32 real(EnvWin32::kProcessView);
  RegistryTestEnv portable;
  Differential run(real, portable, 20261208);
  auto start = std::chrono::steady_clock::now();
  run.Run(base, 20000);
  auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - start);
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, base.c_str());

  std::printf(
      "registry differential: %d operations compared (%d succeeded), %zu differences, %lld ms\n",
      run.Compared(), run.Succeeded(), run.Differences().size(),
      static_cast<long long>(elapsed.count()));
  for (size_t i = 0; i < run.Differences().size() && i < 25; ++i) {
    ADD_FAILURE() << run.Differences()[i];
  }
  EXPECT_TRUE(run.Differences().empty());
  HKEY gone = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, base.c_str(), 0, KEY_READ, &gone),
            ERROR_FILE_NOT_FOUND);
}

}  // namespace
