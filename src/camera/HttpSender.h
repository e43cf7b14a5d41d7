#pragma once
// The HTTP sender of this platform. Camera-facing code names only CHttpSender or CreateHttpSender,
// so that a sender on another platform's HTTP library takes its place here alone.
#include <memory>

#include "camera/CBaseHttpSender.h"
#ifdef _WIN32
#include "camera/CWinHttpSender.h"
#else
#include "camera/CCurlHttpSender.h"
#endif

namespace Web {

#ifdef _WIN32
using CHttpSender = CWinHttpSender;
#else
using CHttpSender = CCurlHttpSender;
#endif

inline std::unique_ptr<CBaseHttpSender> CreateHttpSender(const norvale::DEVICE_INFO& device) {
  return std::make_unique<CHttpSender>(device);
}

}  // namespace Web
