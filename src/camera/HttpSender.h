#pragma once
// The HTTP sender of this platform. Camera-facing code names only CHttpSender or CreateHttpSender,
// so that a sender on another platform's HTTP library takes its place here alone.
#include <memory>

#include "camera/CBaseHttpSender.h"
#include "camera/CCurlHttpSender.h"

namespace Web {

using CHttpSender = CCurlHttpSender;

inline std::unique_ptr<CBaseHttpSender> CreateHttpSender(const norvale::DEVICE_INFO& device) {
  return std::make_unique<CHttpSender>(device);
}

}  // namespace Web
