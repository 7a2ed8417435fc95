#include "import/GeneralSettings.h"

#include "import/SectionWriter.h"
#include "profile/Ini.h"

void ImportGeneralSettings(Env& env, const CIni& mainProfile, RegKey productKey) {
  SectionMap settings;
  mainProfile.ReadSection("LogOptions", settings);
  mainProfile.ReadSection("Security", settings);
  mainProfile.ReadSection("Settings", settings);
  settings["Desktop size"] = mainProfile.ReadString("WindowPos", "Desktop size");
  settings["Main"] = mainProfile.ReadString("WindowPos", "Main");
  for (const auto& [name, value] : settings) {
    WriteTypedValue(env, productKey, name, value, false);
  }
}

bool ImportCurrentJobs(Env& env, const CIni& mainProfile, RegKey productKey) {
  StringList controlProfiles;
  mainProfile.ReadKeyNames("CurrentJobs", controlProfiles);
  RegKey currentJobs = 0;
  if (env.CreateKey(productKey, "CurrentJobs", &currentJobs, nullptr) != 0) return false;
  for (size_t i = 0; i < controlProfiles.size(); ++i) {
    CIni controlProfile(env, controlProfiles[i]);
    std::string name = controlProfile.ReadString("Settings", "ControlFileName");
    WriteDwordValue(env, currentJobs, name, static_cast<uint32_t>(i));
  }
  env.CloseKey(currentJobs);
  return true;
}
