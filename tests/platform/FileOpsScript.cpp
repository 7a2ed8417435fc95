#include "platform/FileOpsScript.h"

#include <chrono>
#include <fstream>
#include <iterator>

#include "platform/WinError.h"
#include "platform/portable/EnvPortable.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace {

void WriteFile(const fs::path& file, const std::string& content) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << content;
}

class Script {
 public:
  Script(Env& env, std::string root, fs::path host)
      : env_(env), root_(std::move(root)), host_(std::move(host)) {}

  FileOpsOutcomes Run();

 private:
  std::string Path(const std::string& relative) const { return root_ + "\\" + relative; }
  fs::path Host(std::string relative) const {
    for (char& c : relative) {
      if (c == '\\') c = '/';
    }
    return host_ / fs::path(relative).make_preferred();
  }
  std::string Content(const std::string& relative) const {
    std::ifstream in(Host(relative), std::ios::binary);
    if (!in) return "(missing)";
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  std::string Outcome(bool ok) const {
    return ok ? "ok" : "error " + std::to_string(env_.LastError());
  }
  std::string Writable(const std::string& path) {
    return (fs::status(Host(path)).permissions() & fs::perms::owner_write) == fs::perms::none
               ? "read-only"
               : "writable";
  }
  void Record(const std::string& step, const std::string& outcome) {
    outcomes_.emplace_back(step, outcome);
  }

  void Find(const std::string& step, const std::string& pattern);
  void CreateDir(const std::string& step, const std::string& path) {
    Record(step, Outcome(env_.CreateDir(Path(path))));
  }
  void Copy(const std::string& step, const std::string& from, const std::string& to,
            bool failIfExists) {
    Record(step, Outcome(env_.CopyFileTo(Path(from), Path(to), failIfExists)));
  }
  void Rename(const std::string& step, const std::string& from, const std::string& to) {
    Record(step, Outcome(env_.RenameFile(Path(from), Path(to))));
  }
  // The whole file read through OpenReadable in small pieces.
  void ReadAll(const std::string& step, const std::string& path) {
    std::unique_ptr<ReadableFile> file = env_.OpenReadable(Path(path));
    if (!file) return Record(step, Outcome(false));
    std::string content;
    char piece[3];
    uint32_t got = 0;
    while (file->Read(piece, sizeof piece, &got) && got > 0) content.append(piece, got);
    Record(step, content);
  }
  void Remove(const std::string& step, const std::string& path) {
    Record(step, Outcome(env_.RemoveFile(Path(path))));
  }
  void Create(const std::string& step, const std::string& path) {
    Record(step, Outcome(env_.CreateWritable(Path(path)) != nullptr));
  }
  void Short(const std::string& step, const std::string& path) {
    std::string shortPath;
    Record(step, Outcome(env_.ShortPathName(Path(path), &shortPath)));
  }

  void Full(const std::string& step, const std::string& path) {
    std::string full;
    if (!env_.FullPathName(Path(path), &full)) return Record(step, Outcome(false));
    bool underRoot = full.compare(0, root_.size(), root_) == 0;
    Record(step, underRoot ? "<root>" + full.substr(root_.size()) : full);
  }
  void Compare(const std::string& step, const std::string& a, const std::string& b) {
    int order = env_.CompareFileNames(a, b);
    Record(step, order < 0 ? "less" : order > 0 ? "greater" : "same");
  }

  void Searches();
  void Names();
  void Directories();
  void Copies();
  void Deletions();
  void Renames();
  void Writes();

  Env& env_;
  std::string root_;
  fs::path host_;
  FileOpsOutcomes outcomes_;
};

void Script::Find(const std::string& step, const std::string& pattern) {
  FoundFile found;
  std::unique_ptr<FileSearch> search = env_.FindFirst(Path(pattern), &found);
  if (!search) return Record(step, Outcome(false));
  std::string names;
  do {
    names += (names.empty() ? "" : ", ") + found.name + (found.directory ? "/" : "");
  } while (search->Next(&found));
  Record(step, "[" + names + "] " + std::to_string(env_.LastError()));
}

void Script::Searches() {
  Find("find.plain", "fdir\\cf1.ini");
  Find("find.otherCase", "fdir\\CF1.INI");
  Find("find.directory", "fdir");
  Find("find.directoryDot", "fdir\\.");
  Find("find.directoryBackslash", "fdir\\");
  Find("find.fileBackslash", "fdir\\cf1.ini\\");
  Find("find.belowFile", "fdir\\cf1.ini\\*");
  Find("find.missing", "fdir\\nosuch.ini");
  Find("find.noMatch", "fdir\\zz*.ini");
  Find("find.missingDirectory", "fdir\\nodir\\x.ini");
  Find("find.missingDirectoryPattern", "nodir\\*.ini");
  Find("find.cfIni", "fdir\\cf*.ini");
  Find("find.cfIniUpper", "fdir\\CF*.INI");
  Find("find.starIni", "fdir\\*.ini");
  Find("find.starIn", "fdir\\*.in");
  Find("find.question", "fdir\\cf?.ini");
  Find("find.cfStar", "fdir\\cf*");
  Find("find.cfStarDot", "fdir\\cf*.");
  Find("find.iniAnywhere", "fdir\\*.ini*");
  Find("find.all", "fdir\\*");
  Find("find.allDotAll", "fdir\\*.*");
  Find("find.forwardSlash", "fdir/cf1.ini");
  Find("find.doubledBackslash", "fdir\\\\cf1.ini");
  Find("find.blank", "fdir\\Sub Dir");
  Find("find.dotDot", "fdir\\Sub Dir\\..\\cf1.ini");
}

// Names beyond ASCII: which of them are one name in other letter case, and
// in which order a search lists them.
void Script::Names() {
  CreateDir("names.directory", "names");
  for (const char* name : {"\xFFy", "\x9Ay", "\xB5y", "\x83y", "\x80y", "\xE0y", "\xDFy", "Zy",
                           "_y", "\x9Cy", "\xE6y"}) {
    Create(std::string("names.create ") + name, std::string("names\\") + name);
  }
  Find("names.order", "names\\*");
  Find("names.yDiaeresis", "names\\\x9FY");
  Find("names.sCaron", "names\\\x8AY");
  Find("names.oe", "names\\\x8CY");
  Find("names.aGrave", "names\\\xC0Y");
  Find("names.ae", "names\\\xC6Y");
  Find("names.patternUpper", "names\\\x9F*");
  Create("names.recreateUpper", "names\\\x8AY");
  Find("names.recreateKeepsName", "names\\\x9A*");
  Compare("names.compareCase", "Backup\\restore.BAT", "BACKUP\\Restore.bat");
  Compare("names.compareYDiaeresis", "\xFFy", "\x9FY");
  Compare("names.compareMicro", "\xB5", "M");
  Compare("names.compareOrder", "_", "\xB5");
  Compare("names.compareLength", "ab", "abc");
  Full("full.dots", "x\\.\\y\\..\\z");
  Full("full.slashes", "x/y//z");
  Full("full.trailingSeparator", "x\\y\\");
  Full("full.trailingDotsAndBlanks", "x.\\y. .");
  Full("full.aboveRoot", "..\\..\\..\\..\\..\\..\\..\\..\\..\\..\\..\\q");
}

void Script::Directories() {
  CreateDir("dir.new", "new");
  CreateDir("dir.existing", "new");
  CreateDir("dir.otherCase", "NEW");
  CreateDir("dir.overFile", "fdir\\cf1.ini");
  CreateDir("dir.missingParent", "nodir\\x");
  CreateDir("dir.belowFile", "fdir\\cf1.ini\\x");
  CreateDir("dir.trailingBackslash", "new2\\");
  CreateDir("dir.existingTrailingBackslash", "new2\\");
  CreateDir("dir.invalidName", "a*b");
  Find("dir.found", "new*");
}

void Script::Copies() {
  Copy("copy.new", "src.txt", "copy1.txt", false);
  Record("copy.newContent", Content("copy1.txt"));
  Copy("copy.failIfExists", "src.txt", "copy1.txt", true);
  Copy("copy.overwrite", "other.txt", "copy1.txt", false);
  Record("copy.overwriteContent", Content("copy1.txt"));
  Copy("copy.otherCase", "src.txt", "COPY1.TXT", false);
  Find("copy.otherCaseKeepsName", "copy1*");
  Record("copy.otherCaseContent", Content("copy1.txt"));
  Copy("copy.readOnlyTarget", "src.txt", "ro.txt", false);
  Record("copy.readOnlyTargetContent", Content("ro.txt"));
  Copy("copy.missingSource", "nosrc.txt", "copy2.txt", false);
  Copy("copy.missingSourceDirectory", "nodir\\nosrc.txt", "copy2.txt", false);
  Copy("copy.missingTargetDirectory", "src.txt", "nodir\\copy2.txt", false);
  Copy("copy.belowFile", "src.txt", "fdir\\cf1.ini\\x", false);
  Copy("copy.ontoItself", "src.txt", "src.txt", false);
  Copy("copy.ontoItselfFailIfExists", "src.txt", "SRC.TXT", true);
  Copy("copy.sourceDirectory", "fdir", "copy2.txt", false);
  Copy("copy.targetDirectory", "src.txt", "fdir", false);
  Copy("copy.invalidTarget", "src.txt", "a|b", false);
  Copy("copy.old", "old.txt", "old-copy.txt", false);
  Record("copy.keepsTime",
         fs::last_write_time(Host("old-copy.txt")) == fs::last_write_time(Host("old.txt"))
             ? "same time"
             : "other time");
  // The copy of a read-only file is writable, so that it can be flushed.
  Copy("copy.readOnlySource", "ro.txt", "ro-copy.txt", false);
  Record("copy.readOnlySourceGivesWritableCopy", Writable("ro-copy.txt"));
  Record("copy.readOnlySourceCopyFlushed", Outcome(env_.FlushFiles({Path("ro-copy.txt")})));
}

void Script::Renames() {
  Copy("rename.prepare", "src.txt", "ren1.txt", false);
  Rename("rename.plain", "ren1.txt", "ren2.txt");
  Find("rename.result", "ren*");
  Rename("rename.targetExists", "ren2.txt", "other.txt");
  Record("rename.targetKept", Content("other.txt"));
  Rename("rename.targetOtherCase", "ren2.txt", "OTHER.TXT");
  Rename("rename.missing", "nosuch.txt", "ren3.txt");
  Rename("rename.missingDirectory", "ren2.txt", "nodir\\ren3.dat");
  Rename("rename.intoDirectory", "ren2.txt", "fdir\\ren3.dat");
  Find("rename.moved", "fdir\\ren*");
  ReadAll("read.whole", "fdir\\ren3.dat");
  ReadAll("read.other", "fdir\\cfnoext");
  ReadAll("read.missing", "nosuch.txt");
  ReadAll("read.missingDirectory", "nodir\\x.txt");
  ReadAll("read.directory", "fdir");
  ReadAll("read.readOnly", "ro.txt");
  // A folder is renamed as a file is, its content with it.
  CreateDir("rename.folderPrepare", "rdir");
  Copy("rename.folderContent", "src.txt", "rdir\\in.txt", false);
  Rename("rename.folder", "rdir", "rdir.1");
  Find("rename.folderMoved", "rdir*");
  ReadAll("rename.folderContentMoved", "rdir.1\\in.txt");
  Rename("rename.folderOverFile", "rdir.1", "other.txt");
  Rename("rename.folderOverFolder", "rdir.1", "fdir");
  Rename("rename.fileOverFolder", "other.txt", "rdir.1");
  Rename("rename.folderIntoItself", "rdir.1", "rdir.1\\deeper");
  Rename("rename.folderIntoFolder", "rdir.1", "fdir\\rdir");
  Find("rename.folderIntoFolderMoved", "fdir\\rdir\\*.txt");
}

void Script::Deletions() {
  Remove("delete.file", "copy1.txt");
  Remove("delete.missing", "copy1.txt");
  Remove("delete.missingDirectory", "nodir\\x.txt");
  Remove("delete.readOnly", "ro.txt");
  Remove("delete.directory", "fdir");
  Remove("delete.otherCase", "FDIR\\OTHER.TXT");
  Remove("delete.fileBackslash", "fdir\\cf.ini\\");
  Remove("delete.invalidName", "a<b");
  Find("delete.left", "fdir\\*.txt");
}

void Script::Writes() {
  std::unique_ptr<WritableFile> file = env_.CreateWritable(Path("out.txt"));
  Record("write.create", Outcome(file != nullptr));
  if (file) {
    std::string steps = Outcome(file->Append("abc"));
    steps += " " + Outcome(file->Append("def"));
    steps += " " + Outcome(file->Sync());
    steps += " " + Outcome(file->Close());
    Record("write.appendSyncClose", steps);
    Record("write.closeAgain", Outcome(file->Close()));
    Record("write.appendAfterClose", Outcome(file->Append("x")));
    // A file closed by hand leaves the last error alone when it goes.
    env_.SetLastErrorCode(kErrorInvalidParameter);
    file.reset();
    Record("write.destroyedAfterClose", "error " + std::to_string(env_.LastError()));
  }
  Record("write.content", Content("out.txt"));
  file = env_.CreateWritable(Path("OUT.TXT"));
  Record("write.truncate", Outcome(file != nullptr));
  file.reset();
  Record("write.truncatedContent", Content("out.txt"));
  Find("write.truncateKeepsName", "out*");
  Create("write.directory", "fdir");
  Create("write.missingDirectory", "nodir\\x.txt");
  Create("write.readOnly", "ro.txt");
  Create("write.trailingBackslash", "nf\\");
  Create("write.invalidName", "q?.txt");
  Create("write.trailingDot", "dot.");
  Find("write.trailingDotDropped", "dot*");
  Record("writable.missing", Outcome(env_.MakeWritable(Path("nosuch.txt"))));
  Record("writable.alreadyWritable", Outcome(env_.MakeWritable(Path("src.txt"))));
  Record("writable.readOnly", Outcome(env_.MakeWritable(Path("ro.txt"))));
  Record("writable.readOnlyNow", Writable("ro.txt"));
  Remove("writable.thenDeleted", "ro.txt");
}

FileOpsOutcomes Script::Run() {
  Searches();
  Names();
  Directories();
  Copies();
  Renames();
  Deletions();
  Writes();
  Short("short.existing", "src.txt");
  Short("short.missing", "nosuch.txt");
  Short("short.missingDirectory", "nodir\\x.txt");
  return outcomes_;
}

}  // namespace

void BuildFileOpsTree(const fs::path& host) {
  fs::path fdir = host / "fdir";
  fs::create_directories(fdir / "cfsub.ini");
  fs::create_directories(fdir / "Sub Dir");
  for (const char* name : {"cf1.ini", "CF2.INI", "Cf3.Ini", "cfx.ini2", "cfy.ini.bak", "xcf.ini",
                           "cf.ini", "cf long name.ini", "cfnoext", "cf9.in", "other.txt"}) {
    WriteFile(fdir / name, name);
  }
  WriteFile(host / "src.txt", "source");
  WriteFile(host / "other.txt", "other");
  WriteFile(host / "ro.txt", "read-only");
  fs::permissions(host / "ro.txt",
                  fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  WriteFile(host / "old.txt", "old");
  fs::last_write_time(host / "old.txt",
                      fs::last_write_time(host / "old.txt") - std::chrono::hours(24 * 3650));
}

FileOpsOutcomes RunFileOps(Env& env, const std::string& root, const fs::path& host) {
  return Script(env, root, host).Run();
}

FileOpsOutcomes RunFileOpsOnImage() {
  TempDir image;
  std::filesystem::path tree = image.path() / "C" / "T";
  std::filesystem::create_directories(tree);
  BuildFileOpsTree(tree);
  PortableOptions options;
  options.image = image.path();
  EnvPortable env(options);
  return RunFileOps(env, "C:\\T", tree);
}
