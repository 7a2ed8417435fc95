#include "import/TableProfiles.h"

#include "import/QueueValueWriter.h"
#include "import/SectionWriter.h"
#include "messages/Messages.h"

namespace {

// Each importer reads one profile into the registry; false when a key could
// not be written, so that the profile stays where it is.
using TableImporter = bool (*)(Env& env, const CIni& profile);

bool ImportAccess(Env& env, const CIni& profile) {
  bool written = true;
  for (const auto& [section, subkey] : {std::pair<const char*, const char*>{"Settings", "Access"},
                                        {"Hostnames", "Access\\Hostnames"},
                                        {"IP Rules", "Access\\IP Rules"},
                                        {"Host Rules", "Access\\Host Rules"}}) {
    written &= ImportSection(env, profile, section, subkey, false);
  }
  return written;
}

// [Tables] names a translation table by each entry's value.
bool ImportTranslations(Env& env, const CIni& profile) {
  StringList keys;
  profile.ReadKeyNames("Tables", keys);
  bool written = true;
  for (const std::string& key : keys) {
    std::string table = profile.ReadString("Tables", key);
    if (table.empty()) continue;  // names no table
    written &= ImportSection(env, profile, table, "Translation\\" + table, true);
  }
  return written;
}

// [Styles] is written itself, and names each style by an entry's key; the
// styles are stored as queues are.
bool ImportStyles(Env& env, const CIni& profile) {
  SectionMap styles;
  profile.ReadSection("Styles", styles);
  bool written = WriteSectionToRegistry(env, styles, "Styles", false);
  for (const auto& [style, unused] : styles) {
    SectionMap settings;
    profile.ReadSection(style, settings);
    written &= WriteQueueValues(env, settings, "Styles\\" + style);
  }
  return written;
}

// [Protocols] names each protocol by an entry's value and is not written.
bool ImportProtocols(Env& env, const CIni& profile) {
  SectionMap protocols;
  profile.ReadSection("Protocols", protocols);
  bool written = true;
  for (const auto& [unused, protocol] : protocols) {
    if (protocol.empty()) continue;  // names no protocol
    written &= ImportSection(env, profile, protocol, "Protocols\\" + protocol, false);
  }
  return written;
}

// [LangID] and [LangNames] are written as text; [LangNames] names each
// language's table by an entry's key.
bool ImportEbcdic(Env& env, const CIni& profile) {
  SectionMap ids, names;
  profile.ReadSection("LangID", ids);
  bool written = WriteSectionToRegistry(env, ids, "EBCDIC\\LangID", true);
  profile.ReadSection("LangNames", names);
  written &= WriteSectionToRegistry(env, names, "EBCDIC\\LangNames", true);
  for (const auto& [language, unused] : names) {
    written &= ImportSection(env, profile, language, "EBCDIC\\" + language, true);
  }
  return written;
}

struct TableProfile {
  const char* name;  // also its name in the backup directory
  TableImporter import;
};

constexpr TableProfile kTableProfiles[] = {{"access.ini", ImportAccess},
                                           {"translat.ini", ImportTranslations},
                                           {"styles.ini", ImportStyles},
                                           {"protocol.ini", ImportProtocols},
                                           {"ebcdic.ini", ImportEbcdic}};

}  // namespace

void ImportTableProfiles(ImportRun& run, const std::string& oldInstallationDirectory) {
  Env& env = run.env;
  run.restoreScript.Commit();  // what the queues moved has left first
  for (const TableProfile& table : kTableProfiles) {
    std::string path = oldInstallationDirectory + table.name;
    FoundFile found;
    if (!env.FindFirst(path, &found)) continue;
    run.progress.ShowDetail(path);
    CIni profile(env, path);
    if (!run.Readable(profile)) continue;
    if (!table.import(env, profile)) {
      std::string text;
      AppendTableMessage(env, text, kMsgTableProfileNotWritten, path.c_str());
      env.ShowMessage(text, kMbOk);
      continue;
    }
    run.restoreScript.MoveToBackup(path, table.name);
  }
}
