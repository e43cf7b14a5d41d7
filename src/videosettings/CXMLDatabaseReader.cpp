#include "videosettings/CXMLDatabaseReader.h"

#include <filesystem>

#include "platform/Platform.h"
#include "runtime/FunctionName.h"
#include "runtime/StringUtils.h"

namespace norvale {

namespace {

const char* ModeName(uint32_t mode) {
  switch (mode) {
    case 1:
      return "SingleStream";
    case 2:
      return "DualStreaming";
    case 3:
      return "TripleStreaming";
    default:
      return nullptr;
  }
}

// "/Live" and "/Live/Remote" lead from a recording element to the later streams.
const char* StreamPath(uint32_t stream) {
  switch (stream) {
    case 0:
      return "";
    case 1:
      return "/Live";
    case 2:
      return "/Live/Remote";
    default:
      return nullptr;
  }
}

// A name goes into the query between double quotes: it must not be empty or end the literal.
bool Usable(const std::string& name) { return !name.empty() && name.find('"') == std::string::npos; }

std::string Match(const std::string& name) { return "[@resolution=\"" + name + "\"]"; }

}  // namespace

CXMLDatabaseReader::CXMLDatabaseReader(int32_t videoStandard, IDebugMessage* log)
    : CResolutionHelper(videoStandard), log_(log) {}

CXMLDatabaseReader::~CXMLDatabaseReader() { Close(); }

void CXMLDatabaseReader::SetDirectory(const std::string& directory) {
  directory_ = directory;
  directorySet_ = true;
}

std::string CXMLDatabaseReader::DatabasePath(const std::string& driverName) const {
  std::string directory = directory_;
  if (!directorySet_) {
    const std::string executable = platform::ExecutablePath(511);
    const size_t cut = executable.rfind(platform::kPathSeparator);
    directory = cut == std::string::npos ? std::string() : executable.substr(0, cut + 1);
  }
  if (!directory.empty() && directory.back() != platform::kPathSeparator) directory += platform::kPathSeparator;
  return directory + driverName + ".dat";
}

std::vector<std::pair<std::string, const char*>> CXMLDatabaseReader::DatabaseCandidates(
    const std::string& driverName) const {
  std::vector<std::pair<std::string, const char*>> places{{DatabasePath(driverName), "in the host's directory"}};
  if (directorySet_) return places;
  const std::string module = platform::ModulePath();
  const size_t cut = module.rfind(platform::kPathSeparator);
  if (cut != std::string::npos) {
    const std::string directory = module.substr(0, cut + 1);
    places.emplace_back(directory + driverName + ".dat", "beside the driver library");
#ifdef ZEPHRIN_DATA_FROM_LIBRARY
    // The data directory as seen from the installed library, so that a moved installation still
    // finds its own file.
    const std::string file = directory + ZEPHRIN_DATA_FROM_LIBRARY + platform::kPathSeparator + driverName + ".dat";
    places.emplace_back(std::filesystem::path(file).lexically_normal().string(), "in the installed data directory");
#endif
  }
#ifdef ZEPHRIN_DATA_DIRECTORY
  // Where the build meant to install it; the same place as the one above unless the installation moved.
  const std::string installed = std::string(ZEPHRIN_DATA_DIRECTORY) + platform::kPathSeparator + driverName + ".dat";
  if (places.back().first != installed) places.emplace_back(installed, "in the installed data directory");
#endif
  return places;
}

bool CXMLDatabaseReader::Open(const std::string& supportedResolutions, const std::string& driverName) {
  const FunctionName function(__PRETTY_FUNCTION__);
  panoramic_ = false;
  for (const std::string& name : Split(supportedResolutions, ","))
    if (name == "5m") panoramic_ = true;
  if (open_) return true;
  std::string tried;
  for (const auto& [path, where] : DatabaseCandidates(driverName)) {
    if (parser_.Open(path)) {
      open_ = true;
      if (log_)
        log_->Log(LogInfo, "%s: resolution database %s (%s) for device %s", function.c_str(), path.c_str(), where,
                  log_->GetDeviceName().c_str());
      return true;
    }
    tried += (tried.empty() ? "" : ", ") + path;
  }
  // Said once: the caller retries at every configuration round and logs its own failure.
  if (log_ && !missingReported_)
    log_->Log(LogWarning, "%s: no readable resolution database for device %s (looked for %s)", function.c_str(),
              log_->GetDeviceName().c_str(), tried.c_str());
  missingReported_ = true;
  return false;
}

void CXMLDatabaseReader::Close() {
  parser_.Close();
  open_ = false;
}

std::string CXMLDatabaseReader::Query(const std::string& tail) const {
  std::string query = "Database/Resolutions/" + tail;
  if (panoramic_) query += "|Database/Resolutions_Panoramic/" + tail;
  return query;
}

uint32_t CXMLDatabaseReader::ToRate(const std::string& text) const {
  const std::string digits = Trim(text);
  uint64_t value = 0;
  for (size_t i = 0; i < digits.size() && digits[i] >= '0' && digits[i] <= '9' && value <= UINT32_MAX; ++i)
    value = value * 10 + static_cast<uint64_t>(digits[i] - '0');
  const uint32_t rate = value > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(value);
  if (IsNTSC()) {
    if (rate == 12 || rate == 13) return 15;
    if (rate == 25) return 30;
  }
  return rate;
}

std::set<std::string> CXMLDatabaseReader::GetStreamResolutions(uint32_t stream) {
  std::set<std::string> names;
  const char* path = StreamPath(stream);
  if (!open_ || !path) return names;
  for (std::string& name : parser_.Texts(Query(std::string("*/Recording") + path + "/@resolution")))
    names.insert(std::move(name));
  return names;
}

std::set<uint32_t> CXMLDatabaseReader::GetStreamFrameRates(const std::string& name, uint32_t stream) {
  std::set<uint32_t> rates;
  const char* path = StreamPath(stream);
  if (!open_ || !path || !Usable(name)) return rates;
  for (const std::string& text : parser_.Texts(Query(std::string("*/Recording") + path + Match(name) + "/@maxfps")))
    if (const uint32_t rate = ToRate(text)) rates.insert(rate);
  return rates;
}

std::set<std::string> CXMLDatabaseReader::GetAllowedResolutions(uint32_t mode, const std::vector<std::string>& chosen) {
  std::set<std::string> names;
  const char* modeName = ModeName(mode);
  if (!open_ || !modeName || chosen.size() > 2) return names;
  for (const std::string& name : chosen)
    if (!Usable(name)) return names;
  std::string tail = std::string(modeName) + "/Recording";
  if (chosen.size() >= 1) tail += Match(chosen[0]) + "/Live";
  if (chosen.size() == 2) tail += Match(chosen[1]) + "/Remote";
  for (std::string& name : parser_.Texts(Query(tail + "/@resolution"))) names.insert(std::move(name));
  return names;
}

uint32_t CXMLDatabaseReader::GetMaxFrameRate(uint32_t stream, const std::vector<std::string>& chosen) {
  if (!open_) return 0;
  for (const std::string& name : chosen)
    if (!Usable(name)) return 0;
  std::string tail;
  switch (chosen.size()) {
    case 1:
      tail = "SingleStream/Recording" + Match(chosen[0]);
      break;
    case 2:
      tail = "DualStreaming/Recording" + Match(chosen[0]) +
             (stream == 0 ? "[Live" + Match(chosen[1]) + "]" : "/Live" + Match(chosen[1]));
      break;
    case 3:
      tail = "TripleStreaming/Recording" + Match(chosen[0]);
      switch (stream) {
        case 0:
          tail += "[Live" + Match(chosen[1]) + "[Remote" + Match(chosen[2]) + "]]";
          break;
        case 1:
          tail += "/Live" + Match(chosen[1]) + "[Remote" + Match(chosen[2]) + "]";
          break;
        case 2:
          tail += "/Live" + Match(chosen[1]) + "/Remote" + Match(chosen[2]);
          break;
        default:
          return 0;
      }
      break;
    default:
      return 0;
  }
  return ToRate(parser_.Text(Query(tail + "/@maxfps")));
}

}  // namespace norvale
