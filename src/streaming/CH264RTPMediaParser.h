#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "streaming/CRTPMediaParser.h"

namespace norvale {

// H.264 over RTP (single NAL units, STAP-A and FU-A) to Annex B access units. A frame that starts with
// a sequence parameter set giving a picture size is a key frame ("H264"); the frames after it are
// "I264". After a start or a reset nothing is delivered until such a key frame. The parameter sets
// last seen (in the stream or in the session description) are put in front of an IDR picture that
// comes without its own.
class CH264RTPMediaParser : public CRTPMediaParser {
 public:
  explicit CH264RTPMediaParser(IDriver* driver);

  void Reset() override;
  void SetParameterSets(const std::vector<uint8_t>& sps, const std::vector<uint8_t>& pps,
                        const std::vector<uint8_t>& config) override;

 protected:
  void HandlePacket(const CRTPPacket& packet) override;
  void ProcessFrame(uint32_t timestamp) override;
  bool FrameComplete() const override;

 private:
  bool HandleSingle(const uint8_t* payload, size_t size);
  bool HandleStapA(const uint8_t* payload, size_t size);
  bool HandleFuA(const uint8_t* payload, size_t size);
  void AppendUnit(const uint8_t* unit, size_t size);
  // sliceData: the slice after its NAL header byte.
  void InsertParameterSets(const uint8_t* sliceData, size_t size);

  bool waitingForKeyFrame_ = true;
  // What the frame being assembled already holds.
  bool frameHasSlice_ = false;
  bool frameHasSps_ = false;
  // A fragmented unit is open (its start fragment was appended, its end not yet).
  bool fragmentOpen_ = false;
  // False once fragments without their start (after a loss) went into the frame.
  bool frameIntact_ = true;
};

}  // namespace norvale
