// Registry files the size of real machines' exports: 1, 16 and 100 MB, in
// ANSI REGEDIT4 and in UTF-16LE "Version 5.00", about 20 values per key, a
// mix of REG_SZ, REG_DWORD, hex REG_BINARY and hex(2)/hex(7) data, and text
// beyond ASCII. Each run is what the Linux program does with such a file:
// load it, create SOFTWARE\Tandrel\LUM and set a few values there, save it.
//
// Every run takes place in a child process of its own, so that its peak
// memory is its own: the child resets its high-water mark before it starts
// (/proc/self/clear_refs) and reports how far its resident set rose above the
// level at the start (VmHWM), falling back to the growth of ru_maxrss where
// the reset is not available. Reported per size: MB/s of the file's size
// through load + change + save, and the peak growth in MB and as a multiple
// of the file's size.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "platform/portable/EnvPortable.h"

namespace fs = std::filesystem;

namespace {

enum Form { kAnsiForm = 0, kUtf16Form = 1 };

// Builds the text of one registry file in UTF-16 code units and writes it out
// in its form as it grows, so that the generator itself stays small.
class FileWriter {
 public:
  FileWriter(const fs::path& file, Form form) : out_(file, std::ios::binary), form_(form) {
    if (form_ == kUtf16Form) out_.write("\xFF\xFE", 2);
  }
  void Add(std::u16string_view text) {
    for (char16_t c : text) {
      if (form_ == kUtf16Form) {
        buffer_.push_back(static_cast<char>(c & 0xFF));
        buffer_.push_back(static_cast<char>(c >> 8));
      } else {
        buffer_.push_back(static_cast<char>(c));  // the generator gives code page 1252 text only
      }
    }
    if (buffer_.size() > (1 << 16)) Flush();
  }
  void AddAscii(std::string_view text) {
    for (char c : text) Add(std::u16string(1, static_cast<char16_t>(c)));
  }
  uint64_t Bytes() const { return written_ + buffer_.size() + (form_ == kUtf16Form ? 2 : 0); }
  void Flush() {
    out_.write(buffer_.data(), static_cast<std::streamsize>(buffer_.size()));
    written_ += buffer_.size();
    buffer_.clear();
  }

 private:
  std::ofstream out_;
  Form form_;
  std::string buffer_;
  uint64_t written_ = 0;
};

std::u16string Ascii(std::string_view text) {
  return std::u16string(text.begin(), text.end());
}

// Hex bytes as regedit writes them: comma separated, lines wrapped with a
// backslash before 80 columns, continuation lines indented by two blanks.
std::u16string HexLine(std::u16string head, const std::string& bytes) {
  std::u16string line = head;
  size_t column = line.size();
  char digits[4];
  for (size_t i = 0; i < bytes.size(); ++i) {
    bool last = i + 1 == bytes.size();
    if (i > 0 && column + (last ? 2 : 3) > 77) {
      line += u"\\\r\n  ";
      column = 2;
    }
    std::snprintf(digits, sizeof digits, last ? "%02x" : "%02x,",
                  static_cast<unsigned char>(bytes[i]));
    line += Ascii(digits);
    column += last ? 2 : 3;
  }
  return line + u"\r\n";
}

// The bytes a hex(2)/hex(7) value holds for `text`: ANSI bytes in an ANSI
// file, UTF-16LE in a UTF-16 one.
std::string TextBytes(std::u16string_view text, Form form) {
  std::string bytes;
  for (char16_t c : text) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    if (form == kUtf16Form) bytes.push_back(static_cast<char>(c >> 8));
  }
  return bytes;
}

std::u16string Quoted(std::u16string_view text) {
  std::u16string out = u"\"";
  for (char16_t c : text) {
    if (c == u'\\' || c == u'"') out.push_back(u'\\');
    out.push_back(c);
  }
  return out + u"\"";
}

// Writes a file of at least `target` bytes shaped like a machine's export:
// vendors, products and components in sorted order, every key with a line
// of its own, components with about 20 values each.
uint64_t WriteRegistryFile(const fs::path& file, Form form, uint64_t target) {
  FileWriter out(file, form);
  std::mt19937 random(20240611);
  auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  // Text beyond ASCII: accented letters in either form, Cyrillic and CJK
  // where the form can hold them.
  const std::u16string accented = u"Caf\u00E9 M\u00FCller \u00C5ngstr\u00F6m";
  const std::u16string unicode =
      form == kUtf16Form ? u"\u0414\u0430\u043D\u043D\u044B\u0435 \u4E2D\u6587" : accented;
  out.Add(form == kUtf16Form ? u"Windows Registry Editor Version 5.00\r\n\r\n"
                             : u"REGEDIT4\r\n\r\n");
  out.Add(u"[HKEY_LOCAL_MACHINE\\SOFTWARE]\r\n\r\n");
  char name[96];
  for (int vendor = 0; out.Bytes() < target; ++vendor) {
    std::snprintf(name, sizeof name, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor%04d", vendor);
    const std::u16string vendorPath = Ascii(name);
    out.Add(u"[" + vendorPath + u"]\r\n\r\n");
    for (int product = 0; product < 5 && out.Bytes() < target; ++product) {
      std::snprintf(name, sizeof name, "\\Product%02d", product);
      std::u16string productPath = vendorPath + Ascii(name);
      if (product == 3) productPath += u" " + unicode;
      out.Add(u"[" + productPath + u"]\r\n");
      out.Add(u"\"DisplayName\"=" + Quoted(u"Product " + unicode) + u"\r\n");
      out.Add(u"\"Version\"=dword:0000000" + Ascii(std::to_string(product)) + u"\r\n\r\n");
      for (int component = 0; component < 8 && out.Bytes() < target; ++component) {
        std::snprintf(name, sizeof name, "\\Component%03d", component);
        out.Add(u"[" + productPath + Ascii(name) + u"]\r\n");
        for (int v = 0; v < 20; ++v) {
          std::snprintf(name, sizeof name, "Setting%02d", v);
          std::u16string valueName = Quoted(Ascii(name)) + u"=";
          int kind = pick(100);
          if (kind < 40) {
            std::u16string text = pick(4) == 0 ? unicode : accented;
            std::snprintf(name, sizeof name, "C:\\Program Files\\Vendor%04d\\bin\\file%d.dll",
                          vendor, pick(1000));
            out.Add(valueName + Quoted(pick(2) ? Ascii(name) : text) + u"\r\n");
          } else if (kind < 65) {
            std::snprintf(name, sizeof name, "dword:%08x", static_cast<unsigned>(random()));
            out.Add(valueName + Ascii(name) + u"\r\n");
          } else if (kind < 85) {
            std::string bytes;
            for (int i = 0, n = 8 + pick(40); i < n; ++i)
              bytes.push_back(static_cast<char>(pick(256)));
            out.Add(HexLine(valueName + u"hex:", bytes));
          } else if (kind < 95) {
            out.Add(HexLine(valueName + u"hex(2):",
                            TextBytes(std::u16string(u"%SystemRoot%\\system32\\", 22) +
                                          (pick(3) ? u"drv" : unicode) + std::u16string(1, 0),
                                      form)));
          } else {
            out.Add(HexLine(
                valueName + u"hex(7):",
                TextBytes(std::u16string(u"first\0second\0", 13) + accented + std::u16string(2, 0),
                          form)));
          }
        }
        out.Add(u"\r\n");
      }
    }
  }
  out.Flush();
  return out.Bytes();
}

long KilobytesIn(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.starts_with(field)) return std::atol(line.c_str() + std::strlen(field));
  }
  return -1;
}

long MaxRssKilobytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

struct ChildResult {
  double seconds = 0;
  long peakGrowthKilobytes = 0;
  int ok = 0;
};

// In the child: one run over the image, its time and its peak growth.
ChildResult RunOnce(const fs::path& image) {
  ChildResult result;
  bool reset = std::ofstream("/proc/self/clear_refs") << "5" << std::flush ? true : false;
  long startRss = KilobytesIn("VmRSS:");
  long startMax = MaxRssKilobytes();
  auto start = std::chrono::steady_clock::now();
  {
    PortableOptions options;
    options.image = image;
    EnvPortable env(options);
    std::string error;
    bool ok = env.LoadRegistry(&error);
    RegKey key = 0;
    ok = ok && env.CreateKey(kHKeyLocalMachine, "SOFTWARE\\Tandrel\\LUM", &key, nullptr) == 0;
    const char* text = "C:\\LUM\\UNINST.EXE -f C:\\LUM\\uninst.log";
    ok = ok && env.SetValue(key, "UninstallString", kRegSz, reinterpret_cast<const uint8_t*>(text),
                            static_cast<uint32_t>(std::strlen(text) + 1)) == 0;
    const uint8_t number[4] = {42, 0, 0, 0};
    ok = ok && env.SetValue(key, "Queues", kRegDword, number, 4) == 0;
    ok =
        ok && env.SetValue(key, "Version", kRegSz, reinterpret_cast<const uint8_t*>("2.5"), 4) == 0;
    env.CloseKey(key);
    ok = ok && env.SaveRegistry(&error);
    if (!ok) std::fprintf(stderr, "registry run failed: %s\n", error.c_str());
    result.ok = ok;
  }
  result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  long peak = reset ? KilobytesIn("VmHWM:") : MaxRssKilobytes();
  result.peakGrowthKilobytes = peak - (reset ? startRss : startMax);
  return result;
}

// Runs RunOnce in a fresh child process.
bool RunInChild(const fs::path& image, ChildResult* result) {
  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) return false;
  pid_t child = fork();
  if (child < 0) return false;
  if (child == 0) {
    close(pipeEnds[0]);
    ChildResult got = RunOnce(image);
    bool sent = write(pipeEnds[1], &got, sizeof got) == static_cast<ssize_t>(sizeof got);
    _exit(sent ? 0 : 1);
  }
  close(pipeEnds[1]);
  bool got = read(pipeEnds[0], result, sizeof *result) == static_cast<ssize_t>(sizeof *result);
  close(pipeEnds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  return got && WIFEXITED(status) && WEXITSTATUS(status) == 0 && result->ok;
}

void BM_LoadChangeSave(benchmark::State& state) {
  const uint64_t target = static_cast<uint64_t>(state.range(0)) << 20;
  const Form form = static_cast<Form>(state.range(1));
  fs::path dir = fs::temp_directory_path() / ("registry-file-bench-" + std::to_string(getpid()));
  fs::create_directories(dir / "image");
  const fs::path original = dir / "original.reg";
  const uint64_t size = WriteRegistryFile(original, form, target);
  double seconds = 0, peak = 0;
  for (auto _ : state) {
    fs::copy_file(original, dir / "image" / "HKLM.reg", fs::copy_options::overwrite_existing);
    ChildResult result;
    if (!RunInChild(dir / "image", &result)) {
      state.SkipWithError("the run failed");
      break;
    }
    state.SetIterationTime(result.seconds);
    seconds += result.seconds;
    peak = std::max(peak, result.peakGrowthKilobytes * 1024.0);
  }
  fs::remove_all(dir);
  const double mb = static_cast<double>(size) / (1 << 20);
  state.SetLabel(form == kUtf16Form ? "UTF-16LE" : "ANSI");
  state.counters["file_MB"] = mb;
  state.counters["MB_per_s"] = seconds > 0 ? mb * state.iterations() / seconds : 0;
  state.counters["peak_MB"] = peak / (1 << 20);
  state.counters["peak_x_size"] = peak / static_cast<double>(size);
}
BENCHMARK(BM_LoadChangeSave)
    ->ArgsProduct({{1, 16, 100}, {kAnsiForm, kUtf16Form}})
    ->ArgNames({"MB", "utf16"})
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

}  // namespace
