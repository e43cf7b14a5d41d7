#pragma once
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "camera/CBaseHttpSender.h"
#include "runtime/CResultDef.h"
#include "runtime/DeviceConfiguration.h"
#include "videosettings/CBaseVideoSettingsManager.h"
#include "videosettings/CVideoSettingsHelper.h"
#include "videosettings/CXMLDatabaseReader.h"

namespace norvale {

// The video settings manager of this camera family. A round reads the camera's appearance and frame
// rate (or frame skip) parameters, works out the terms that differ from the stored stream requests
// and writes them with one update request, whose answer must be "OK". Single-stream cameras are set
// from the recording stream's request; multi-stream cameras (series 7 and 8) get one resolution set
// for all streams, checked against the resolution database; streams that share a parameter group
// (an encoder) are set from one of them.
class CElmoVideoSettingsManager : public CBaseVideoSettingsManager {
 public:
  static constexpr const char* kAppearanceGroup = "Image.I0.Appearance";
  static constexpr const char* kListPath = "/cgi-bin/admin/param.cgi?action=list";
  static constexpr const char* kUpdatePath = "/cgi-bin/admin/param.cgi?action=update";

  // Result codes of VerifyResponse.
  enum : int32_t { kEmptyResponse = 13, kRejected = 14 };

  CElmoVideoSettingsManager(IDriver* driver, uint32_t camera);
  ~CElmoVideoSettingsManager() override;

  bool Synchronize() override;
  void OnReset(bool keep) override;

  // The "&name=value" terms that bring the camera (its parameter list as read) in line with the
  // stored requests; false when no request can be made of them.
  bool GenerateRequestUri(const std::string& parameterList, std::string* request);
  // Writes the terms; no terms succeed without a request.
  bool Update(const std::string& parameters);
  // Checks the camera's answer to an update; request is the request text for the message (may be empty).
  CResultDef VerifyResponse(const std::string& body, const std::string& request);

  const CDeviceConfiguration& DeviceConfiguration() const { return deviceConfiguration_; }
  // Where the resolution database is looked for, instead of the host executable's directory.
  void SetDatabaseDirectory(const std::string& directory) { database_.SetDirectory(directory); }

 protected:
  // For a derived class, which then starts the worker at the end of its own constructor.
  CElmoVideoSettingsManager(IDriver* driver, uint32_t camera, bool startWorker);
  std::string WorkerName() const;

  // One GET to the camera: the outcome and the body.
  virtual CResultDef RequestGet(const std::string& path, std::string* body);
  // Closes the request the worker is waiting on.
  void CancelWork() override;

 private:
  bool RequestList(const std::string& groups, std::string* list);
  bool GenerateRequestUriForSingleStream(const std::string& list, const std::map<int32_t, StreamRecord>& records,
                                         std::string* request);
  bool GenerateRequestUriForSeveralStreams(const std::string& list, const std::map<int32_t, StreamRecord>& records,
                                           std::string* request);
  // Frame rate, key-frame interval and quality of one stream of a multi-stream camera, its rate
  // within the database's limit for the chosen resolutions.
  std::string StreamTerms(const std::string& list, int32_t kind, const StreamRecord& record,
                          const std::vector<std::string>& chosen);

  // Parameter group of a request: "Mjpeg", "Mpeg4", "H264", "H264_2", "H264_3" or empty.
  std::string GroupName(const StreamRecord& record) const;
  bool UsesSecondStream(const StreamRecord& record) const;
  bool IsHighResolution(const StreamRecord& record) const;
  std::string ResolutionName(const StreamRecord& record) const;

  // "&name=value" when the camera reports a current value for name that is not the wanted one.
  static std::string ParameterTerm(const std::string& list, const std::string& name, const std::string& wanted);
  std::string QualityTerm(const std::string& list, const StreamRecord& record) const;
  std::string FrameRateTerm(const std::string& list, const StreamRecord& record, uint32_t rate) const;
  std::string FrameSkipTerm(const std::string& list, const StreamRecord& record, const FrameSkipEntry& entry) const;
  std::string KeyFrameTerm(const std::string& list, const StreamRecord& record, uint32_t rate) const;
  std::string ResolutionTerm(const std::string& list, const StreamRecord& record, uint32_t rate) const;

  IDriver* driver_;
  std::unique_ptr<Web::CBaseHttpSender> sender_;
  CVideoSettingsHelper helper_;
  CXMLDatabaseReader database_;
  int32_t series_;
  bool frameRateOption_;
  bool secondStreamAllowed_;
  std::atomic<bool> configurationRead_{false};
  CDeviceConfiguration deviceConfiguration_;
  bool jpegInUse_ = false;
  bool sharedGroupReported_ = false;  // two streams of one parameter group asked for different values
};

}  // namespace norvale
