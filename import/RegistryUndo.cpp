#include "import/RegistryUndo.h"

#include <cstdio>
#include <vector>

#include "import/EarlierFiles.h"
#include "messages/Messages.h"
#include "platform/WinError.h"

namespace {

constexpr size_t kHexBytesPerLine = 25;

std::string Quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out + "\"";
}

// A REG_SZ that a quoted string gives back byte for byte: one final NUL and
// no other, and no control character, which a line could not carry.
bool PlainString(const std::string& data) {
  if (data.empty() || data.back() != '\0') return false;
  for (size_t i = 0; i + 1 < data.size(); ++i) {
    if (static_cast<unsigned char>(data[i]) < 0x20) return false;
  }
  return true;
}

std::string HexData(uint32_t type, const std::string& data) {
  char prefix[24];
  if (type == kRegBinary) {
    std::snprintf(prefix, sizeof prefix, "hex:");
  } else {
    std::snprintf(prefix, sizeof prefix, "hex(%x):", static_cast<unsigned>(type));
  }
  std::string out = prefix;
  for (size_t i = 0; i < data.size(); ++i) {
    char byte[4];
    std::snprintf(byte, sizeof byte, "%02x", static_cast<unsigned char>(data[i]));
    out += byte;
    if (i + 1 == data.size()) break;
    out += ',';
    if ((i + 1) % kHexBytesPerLine == 0) out += "\\\r\n  ";
  }
  return out;
}

}  // namespace

RegistryUndo::RegistryUndo(Env& target)
    : EnvWrapper(target),
      createdKeys_(FileNameOrder{&target}),
      savedValues_(FileNameOrder{&target}) {}

RegistryUndo::~RegistryUndo() {
  if (file_) file_->Close();
}

void RegistryUndo::SetBackupDirectory(const std::string& directory) {
  backupDirectory_ = directory;
}

std::string RegistryUndo::ValueLine(const std::string& name, uint32_t type,
                                    const std::string& data) {
  std::string line = name.empty() ? "@=" : Quoted(name) + "=";
  if (type == kRegSz && PlainString(data)) {
    line += Quoted(data.substr(0, data.size() - 1));
  } else if (type == kRegDword && data.size() == 4) {
    char dword[16];
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(data[i]);
    std::snprintf(dword, sizeof dword, "dword:%08x", static_cast<unsigned>(value));
    line += dword;
  } else {
    line += HexData(type, data);
  }
  return line + "\r\n";
}

bool RegistryUndo::CreatedByRun(const std::string& fullName) const {
  for (size_t end = fullName.find('\\'); end != std::string::npos;
       end = fullName.find('\\', end + 1)) {
    if (createdKeys_.count(fullName.substr(0, end))) return true;
  }
  return createdKeys_.count(fullName) > 0;
}

uint32_t RegistryUndo::OpenKey(RegKey parent, const char* subkey, RegKey* result) {
  uint32_t rc = EnvWrapper::OpenKey(parent, subkey, result);
  if (rc == 0) keys_.Opened(parent, subkey, *result);
  return rc;
}

uint32_t RegistryUndo::CreateKey(RegKey parent, const char* subkey, RegKey* result, bool* created) {
  KeyPath path;
  *result = 0;  // as a failed create leaves it
  // Every handle the run holds came through here; another one is no key
  // whose change could be undone.
  if (!keys_.Find(parent, &path)) return kErrorInvalidHandle;
  KeyPath key = path.Below(subkey);
  std::string fullName = key.FullName();
  if (!CreatedByRun(fullName)) {
    // The topmost key on the way down that is not there yet is the one the
    // undo entry deletes.
    std::string prefix, top;
    for (size_t begin = 0; begin <= key.path.size() && !key.path.empty();) {
      size_t end = key.path.find('\\', begin);
      if (end == std::string::npos) end = key.path.size();
      prefix = key.path.substr(0, end);
      begin = end + 1;
      RegKey probe = 0;
      uint32_t rc = EnvWrapper::OpenKey(key.root, prefix.c_str(), &probe);
      if (rc == kErrorFileNotFound) {
        top = KeyPath{key.root, prefix}.FullName();
        break;
      }
      if (rc != 0) return Fail(rc);
      EnvWrapper::CloseKey(probe);
    }
    if (!top.empty()) {
      if (uint32_t rc = Record("\r\n[-" + top + "]\r\n"); rc != 0) return rc;
      createdKeys_.insert(top);
    }
  }
  uint32_t rc = EnvWrapper::CreateKey(parent, subkey, result, created);
  if (rc == 0) keys_.Opened(parent, subkey, *result);
  return rc;
}

uint32_t RegistryUndo::SetValue(RegKey key, const char* name, uint32_t type, const uint8_t* data,
                                uint32_t size) {
  KeyPath path;
  if (!keys_.Find(key, &path)) return kErrorInvalidHandle;
  std::string fullName = path.FullName();
  std::string valueName = name ? name : "";
  std::string id = fullName + "\n" + valueName;
  if (!CreatedByRun(fullName) && !savedValues_.count(id)) {
    uint32_t oldType = 0, oldSize = 0;
    uint32_t rc = EnvWrapper::QueryValue(key, name, &oldType, nullptr, &oldSize);
    std::string line;
    if (rc == kErrorFileNotFound) {
      line = (valueName.empty() ? "@" : Quoted(valueName)) + "=-\r\n";
    } else if (rc != 0) {
      return Fail(rc);
    } else {
      std::vector<uint8_t> old(oldSize);
      rc = EnvWrapper::QueryValue(key, name, &oldType, old.data(), &oldSize);
      if (rc != 0) return Fail(rc);
      line = ValueLine(valueName, oldType,
                       std::string(reinterpret_cast<const char*>(old.data()), oldSize));
    }
    if (uint32_t rc2 = Record("\r\n[" + fullName + "]\r\n" + line); rc2 != 0) return rc2;
    savedValues_.insert(id);
  }
  return EnvWrapper::SetValue(key, name, type, data, size);
}

uint32_t RegistryUndo::CloseKey(RegKey key) {
  keys_.Closed(key);
  return EnvWrapper::CloseKey(key);
}

bool RegistryUndo::Open() {
  return OpenFile() == 0;
}

uint32_t RegistryUndo::OpenFile() {
  if (broken_) return Fail(kErrorWriteFault);
  if (file_) return 0;
  std::string path = backupDirectory_ + "\\restore.reg";
  if (backupDirectory_.empty()) return Broken(kErrorPathNotFound);
  EnvWrapper::CreateDir(backupDirectory_);
  if (!KeepEarlierFile(*this, path)) {
    reported_ = true;  // the journal has told the user
    return Broken(kErrorAccessDenied);
  }
  file_ = EnvWrapper::CreateWritable(path);
  if (!file_ || !file_->Append("REGEDIT4\r\n") || !file_->Sync()) {
    file_.reset();
    return Broken(EnvWrapper::LastError());
  }
  return 0;
}

uint32_t RegistryUndo::Record(const std::string& entry) {
  if (uint32_t rc = OpenFile(); rc != 0) return rc;
  // A torn or lost entry would leave a change without its way back: after
  // one failure nothing more is changed.
  if (!file_->Append(entry) || !file_->Sync()) return Broken(EnvWrapper::LastError());
  ++entries_;
  return 0;
}

uint32_t RegistryUndo::Broken(uint32_t error) {
  broken_ = true;
  return Fail(error);
}

uint32_t RegistryUndo::Fail(uint32_t error) {
  if (error == 0) error = kErrorWriteFault;
  if (!reported_) {
    reported_ = true;
    std::string reason, text;
    GetSystemErrorText(*this, reason, error);
    std::string file = backupDirectory_ + "\\restore.reg";
    AppendTableMessage(*this, text, kMsgUndoNotRecorded, file.c_str(), reason.c_str());
    ShowMessage(text, kMbOk);
  }
  SetLastErrorCode(error);
  return error;
}
