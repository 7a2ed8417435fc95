#include "import/ImportRun.h"

#include "messages/Messages.h"

bool ImportRun::Readable(const CIni& profile) {
  uint32_t error = 0;
  if (profile.Readable(&error)) return true;
  std::string reason, text;
  GetSystemErrorText(env, reason, error);
  AppendTableMessage(env, text, kMsgProfileUnreadable, profile.GetPath().c_str(), reason.c_str());
  env.ShowMessage(text, kMbOk);
  return false;
}
