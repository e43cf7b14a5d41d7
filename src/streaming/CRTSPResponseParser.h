#pragma once
#include <cstdint>
#include <string>

#include "streaming/RTSPTypes.h"
#include "streaming/SDPDescription.h"

namespace norvale {

// Turns the text of one RTSP response into the values the client needs for its next request. The
// values persist from response to response (they double as the session state); only Reset clears them.
class CRTSPResponseParser {
 public:
  virtual ~CRTSPResponseParser() = default;

  void Reset();
  // Parses a complete response (status line, headers, optional body) to a request of the given
  // kind. True for a 200 or 401 whose recognised headers all scan; only a DESCRIBE body is read as
  // a session description. Never throws.
  bool ParseResponse(const std::string& text, RTSPMethod method);

  // The client's request counter is the CSeq of the last response: the next request carries one more.
  uint32_t NextCSeq() { return ++cseq_; }

  const SDPDescription& Description() const { return description_; }
  const std::string& Version() const { return version_; }
  uint32_t Status() const { return status_; }
  uint32_t CSeq() const { return cseq_; }
  const std::string& ContentBase() const { return contentBase_; }
  const std::string& ContentType() const { return contentType_; }
  uint32_t ContentLength() const { return contentLength_; }
  const std::string& SessionId() const { return sessionId_; }
  int32_t SessionTimeout() const { return sessionTimeout_; }
  AuthScheme ChallengeScheme() const { return challengeScheme_; }
  const std::string& Realm() const { return realm_; }
  const std::string& Nonce() const { return nonce_; }
  // The last challenge said that the nonce of the request had expired (stale=true); cleared by
  // every status line.
  bool NonceStale() const { return stale_; }
  // The last Public header names GET_PARAMETER.
  bool OffersGetParameter() const { return offersGetParameter_; }
  // The source=, as a dotted IPv4 address, of the last Transport header (network order); 0 when
  // it named none or something else.
  uint32_t TransportSource() const { return transportSource_; }

 private:
  bool Parse(const std::string& text, RTSPMethod method);
  bool ApplyHeader(const std::string& line);
  bool ApplySession(const std::string& line);
  bool ApplyChallenge(const std::string& line);
  bool ApplyContentBase(const std::string& line);
  void ApplyPublic(const std::string& line);
  void ApplyTransport(const std::string& line);

  SDPDescription description_;
  std::string version_;
  uint32_t status_ = 0;
  uint32_t cseq_ = 0;
  std::string contentBase_;
  std::string contentType_;
  uint32_t contentLength_ = 0;
  std::string sessionId_;
  int32_t sessionTimeout_ = 0;
  AuthScheme challengeScheme_ = AuthScheme::None;
  std::string realm_;
  std::string nonce_;
  bool stale_ = false;
  bool offersGetParameter_ = false;
  uint32_t transportSource_ = 0;
};

}  // namespace norvale
