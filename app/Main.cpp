// checklum: the Linux build. Runs the work step over an image, a folder that
// emulates one Windows machine, and saves the image's registry file.
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>

#include "app/CheckLUMDlg.h"
#include "platform/portable/EnvPortable.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitCancel = 1;
constexpr int kExitUsage = 2;

const char kUsage[] =
    "Usage: checklum [--windows-dir WINPATH] [--program WINPATH] IMAGE\n"
    "\n"
    "Carries an old LUM installation's INI configuration over into the registry,\n"
    "inside IMAGE, a folder that stands for one Windows machine: IMAGE/C is drive\n"
    "C:, IMAGE/HKLM.reg holds HKEY_LOCAL_MACHINE (read at start, saved at the end).\n"
    "\n"
    "  --windows-dir WINPATH  the Windows directory (default C:\\WINDOWS)\n"
    "  --program WINPATH      the program's own path; its directory receives the\n"
    "                         Spool and Backup directories (default\n"
    "                         C:\\Setup\\CheckLUM.exe)\n"
    "  --help                 show this text\n"
    "  --version              show the version\n"
    "\n"
    "Exit status: 0 when the run ends with OK, 1 when it ends with Cancel (nothing\n"
    "to import, or the import stopped), 2 for a usage error or an unusable image.\n";

int UsageError(const std::string& text) {
  std::cerr << "checklum: " << text << "\nTry 'checklum --help'.\n";
  return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  PortableOptions options;
  std::string image;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return kExitOk;
    }
    if (arg == "--version") {
      std::cout << "checklum " << CHECKLUM_VERSION << "\n";
      return kExitOk;
    }
    if (arg == "--windows-dir" || arg == "--program") {
      if (i + 1 >= argc) return UsageError(arg + " needs a Windows path");
      (arg == "--windows-dir" ? options.windowsDirectory : options.programPath) = argv[++i];
      continue;
    }
    if (arg.size() > 1 && arg[0] == '-') return UsageError("unknown option " + arg);
    if (!image.empty()) return UsageError("only one IMAGE can be given");
    image = arg;
  }
  if (image.empty()) return UsageError("no IMAGE given");

  std::error_code ec;
  if (!std::filesystem::is_directory(image, ec)) {
    std::cerr << "checklum: " << image << " is not a folder (an image is a folder with one "
              << "folder per drive, such as " << image << "/C)\n";
    return kExitUsage;
  }
  options.image = image;
  options.progress = &std::cout;
  options.messages = &std::cerr;

  EnvPortable env(options);
  std::string error;
  if (!env.LoadRegistry(&error)) {
    std::cerr << "checklum: " << error << "\nNothing has been changed.\n";
    return kExitUsage;
  }

  bool ok;
  {
    CCheckLUMDlg dlg(env);
    ok = dlg.RunWorkStep();
  }
  env.EndProgress();
  if (!env.SaveRegistry(&error)) {
    std::cerr << "checklum: " << error << "\n";
    return kExitUsage;
  }
  std::cout << (ok ? "Finished: the run ends with OK.\n" : "Finished: the run ends with Cancel.\n");
  return ok ? kExitOk : kExitCancel;
}
