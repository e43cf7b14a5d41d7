#pragma once
#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "runtime/CXMLParser.h"
#include "runtime/IDriver.h"
#include "videosettings/CResolutionHelper.h"

namespace norvale {

// The resolution database delivered with the driver: which resolution combinations a multi-stream
// camera accepts and the highest frame rate of each stream in each combination. The file is named
// after the driver with ".dat" and lies beside the host executable; an installed driver keeps it
// beside the library or in its data directory, which are looked at next. Cameras offering "5m" also
// see the combinations of the panoramic section.
//
// Streams: 0 recording, 1 live, 2 remote. Modes, by number of streams: 1 "SingleStream",
// 2 "DualStreaming", 3 "TripleStreaming". Rates are read as written for PAL; for NTSC 12 and 13
// read as 15 and 25 as 30. Every query answers empty or 0 while the file is not open, and for names
// or stream numbers the file cannot hold.
class CXMLDatabaseReader : public CResolutionHelper {
 public:
  // log, when given, hears which file was opened (or where none was found).
  explicit CXMLDatabaseReader(int32_t videoStandard, IDebugMessage* log = nullptr);
  ~CXMLDatabaseReader() override;

  // supportedResolutions: the camera's names, comma-separated; "5m" among them switches the
  // panoramic section on. Opens the file once; later calls only refresh that switch.
  bool Open(const std::string& supportedResolutions, const std::string& driverName);
  void Close();
  bool IsOpen() const { return open_; }
  bool IsPanoramic() const { return panoramic_; }

  // The file for a driver name: in the host executable's directory, or the bare name when that
  // directory is unknown.
  std::string DatabasePath(const std::string& driverName) const;
  // Looks for the file in this directory only, instead of the host executable's and the driver's.
  void SetDirectory(const std::string& directory);
  // Every place the file is looked for, in order, each with the words that name it in the log.
  std::vector<std::pair<std::string, const char*>> DatabaseCandidates(const std::string& driverName) const;

  // Every resolution the stream may use, in any mode.
  std::set<std::string> GetStreamResolutions(uint32_t stream);
  // Every highest rate the stream has at that resolution, in any mode (no zeros).
  std::set<uint32_t> GetStreamFrameRates(const std::string& name, uint32_t stream);
  // Resolutions of the next stream in a mode given the names chosen for the streams before it.
  std::set<std::string> GetAllowedResolutions(uint32_t mode, const std::vector<std::string>& chosen);
  // The highest rate of a stream in the combination of the chosen names (one name per stream of
  // the mode); 0 when the combination is unknown.
  uint32_t GetMaxFrameRate(uint32_t stream, const std::vector<std::string>& chosen);

 private:
  // "Database/Resolutions/<tail>", with the panoramic section joined in when it applies.
  std::string Query(const std::string& tail) const;
  uint32_t ToRate(const std::string& text) const;

  IDebugMessage* log_;
  CXMLParser parser_;
  bool open_ = false;
  bool panoramic_ = false;
  bool directorySet_ = false;
  bool missingReported_ = false;
  std::string directory_;
};

}  // namespace norvale
