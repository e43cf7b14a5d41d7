#include "ptz/CXMLPrepositionReader.h"

#include <filesystem>
#include <system_error>

#include "runtime/StringUtils.h"

using norvale::FormatString;
using norvale::RecursiveLockGuard;

namespace {
// Names beside the file tried, in order, for keeping an unreadable file.
constexpr int kKeepAsideNames = 100;

// Only files named like preset files are ever moved aside or replaced.
bool IsPresetFile(const std::string& name) {
  static const std::string kSuffix = ".preset";
  return name.size() > kSuffix.size() && name.compare(name.size() - kSuffix.size(), kSuffix.size(), kSuffix) == 0;
}

bool ParseSlot(const std::string& text, uint32_t* slot) {
  const std::string digits = norvale::Trim(text);
  if (digits.empty() || digits.size() > 10) return false;
  uint64_t value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  if (value > 0xFFFFFFFFull) return false;
  *slot = static_cast<uint32_t>(value);
  return true;
}
}  // namespace

CXMLPrepositionReader::CXMLPrepositionReader(const std::string& rootName, IDebugMessage* log)
    : rootName_(rootName), log_(log) {}

CXMLPrepositionReader::~CXMLPrepositionReader() {
  RecursiveLockGuard guard(lock_);
  while (settings_.Close() > 0) {
  }
}

void CXMLPrepositionReader::SetBaseDirectory(const std::string& directory) {
  RecursiveLockGuard guard(lock_);
  settings_.SetBaseDirectory(directory);
}

std::string CXMLPrepositionReader::Path() {
  RecursiveLockGuard guard(lock_);
  return settings_.Path();
}

bool CXMLPrepositionReader::KeepAside(const std::string& path, std::string* keptAs) {
  namespace fs = std::filesystem;
  for (int i = 0; i < kKeepAsideNames; ++i) {
    const std::string candidate = i == 0 ? path + ".bad" : FormatString("%s.bad%d", path.c_str(), i);
    std::error_code ec;
    if (fs::exists(candidate, ec) || ec) continue;
    fs::rename(path, candidate, ec);
    if (ec) return false;
    *keptAs = candidate;
    return true;
  }
  return false;
}

bool CXMLPrepositionReader::Init(const std::string& fileName) {
  namespace fs = std::filesystem;
  RecursiveLockGuard guard(lock_);
  autoSave_ = false;
  if (fileName.empty() || rootName_.empty()) return false;
  if (settings_.IsOpen()) {
    autoSave_ = true;
    return true;
  }
  std::string name = fileName;
  const fs::path given(fileName);
  if (given.is_absolute()) {
    settings_.SetBaseDirectory(given.parent_path().string());
    name = given.filename().string();
  }

  if (settings_.Open(name)) {
    if (settings_.RootName() == rootName_) {
      autoSave_ = true;
      return true;
    }
    settings_.Close();  // some other document: keep it aside like an unreadable one
  }

  const std::string path = settings_.FullPath(name);
  std::error_code ec;
  const bool present = fs::exists(path, ec);
  if (present && !IsPresetFile(name)) {
    // Some other file of the host's (a name handed over by an older discovery, cut short or made up
    // by a camera): it is neither moved nor overwritten.
    if (log_)
      log_->Log(norvale::LogError, "%s: \"%s\" is not a preset file; it is left as it is and presets are not stored",
                "norvale::CXMLPrepositionReader::Init", norvale::ForLog(path).c_str());
    return false;
  }
  if (present && fs::is_regular_file(path, ec) && fs::file_size(path, ec) > 0 && !ec) {
    std::string keptAs;
    if (!KeepAside(path, &keptAs)) {
      if (log_)
        log_->Log(norvale::LogError,
                  "%s: preset file \"%s\" cannot be read and cannot be kept aside; it is left as it is",
                  "norvale::CXMLPrepositionReader::Init", path.c_str());
      return false;
    }
    if (log_)
      log_->Log(norvale::LogWarning,
                "%s: preset file \"%s\" cannot be read; it was kept as \"%s\" and a new one is created",
                "norvale::CXMLPrepositionReader::Init", path.c_str(), keptAs.c_str());
  }
  autoSave_ = settings_.Create(rootName_, name) && settings_.Open(name);
  return autoSave_;
}

std::string CXMLPrepositionReader::ChannelPath(uint32_t channel) const {
  return FormatString("%s/%s%.2u", rootName_.c_str(), "PtzChannel", channel + 1);
}

std::string CXMLPrepositionReader::EntryPath(uint32_t channel, uint32_t position) const {
  return ChannelPath(channel) + FormatString("/%s%.3u", "Preposition", position);
}

bool CXMLPrepositionReader::SaveIfAuto() { return !autoSave_ || settings_.Save(); }

bool CXMLPrepositionReader::ReadEntry(uint32_t channel, uint32_t position, std::string& name, uint32_t& slot) {
  RecursiveLockGuard guard(lock_);
  const std::string entry = EntryPath(channel, position);
  name = norvale::Narrow(settings_.ReadText(entry + "/Name"));
  if (name.empty()) return false;
  return ParseSlot(norvale::Narrow(settings_.ReadText(entry + "/Slot")), &slot);
}

bool CXMLPrepositionReader::WriteEntry(uint32_t channel, uint32_t position, const std::string& name, uint32_t slot) {
  RecursiveLockGuard guard(lock_);
  const std::string entry = EntryPath(channel, position);
  if (!settings_.WriteText(entry + "/Name", norvale::Widen(name))) return false;
  if (!settings_.WriteText(entry + "/Slot", norvale::Widen(FormatString("%u", slot)))) return false;
  return SaveIfAuto();
}

bool CXMLPrepositionReader::ClearChannel(uint32_t channel) {
  RecursiveLockGuard guard(lock_);
  if (!settings_.IsOpen()) return false;
  settings_.Remove(ChannelPath(channel));  // absent is fine
  return SaveIfAuto();
}

bool CXMLPrepositionReader::SetAutoSave(bool on) {
  RecursiveLockGuard guard(lock_);
  const bool wasOn = autoSave_;
  autoSave_ = on;
  if (on && !wasOn) return settings_.Save();
  return true;
}

bool CXMLPrepositionReader::AutoSave() {
  RecursiveLockGuard guard(lock_);
  return autoSave_;
}

bool CXMLPrepositionReader::IsStorableText(const std::string& text) {
  for (size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c == 0x7F) return false;
    if (c < 0x80) {
      ++i;
      continue;
    }
    size_t extra;
    uint32_t cp;
    if ((c & 0xE0) == 0xC0) {
      extra = 1;
      cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      extra = 2;
      cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      extra = 3;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (i + extra >= text.size()) return false;
    for (size_t j = 1; j <= extra; ++j) {
      const auto cc = static_cast<unsigned char>(text[i + j]);
      if ((cc & 0xC0) != 0x80) return false;
      cp = cp << 6 | (cc & 0x3F);
    }
    static constexpr uint32_t kMin[] = {0, 0x80, 0x800, 0x10000};
    if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;  // overlong, surrogate
    if (cp >= 0x80 && cp <= 0x9F) return false;                                             // C1 control characters
    if (cp == 0xFFFE || cp == 0xFFFF) return false;                                         // not characters in XML
    i += extra + 1;
  }
  return true;
}
