#include "camera/HUtils.h"

#include "runtime/StringUtils.h"

namespace norvale::HUtils {

namespace {
constexpr const char* kFunction = "norvale::HUtils::RequestGetRD";

Web::HttpRequest Get(const std::string& path) {
  Web::HttpRequest request;
  request.verb = "GET";
  request.path = path;
  return request;
}
}  // namespace

CResultDef RequestGetRD(std::vector<uint8_t>& body, Web::CBaseHttpSender& sender, const std::string& path,
                        bool readBody) {
  CResultDef result;
  const std::string device = "device " + DeviceName(&sender.GetDeviceInfo());
  body.clear();
  const uint32_t status = sender.SendRequest(Get(path)) ? sender.GetStatusCode() : 0;
  if (status == 0) {
    result.SetResultEx(LogDebug, kRequestNotSent, "%s: Cannot send request \"%s\" to %s", kFunction, path.c_str(),
                       device.c_str());
  } else if (status / 100 == 2) {
    // A body cut short (broken connection, silent camera, request out of time) is no answer either:
    // the part read would parse as a different answer.
    if (readBody && (sender.ReadResponse(body) == 0 || sender.IsBodyIncomplete()))
      result.SetResultEx(LogWarning, kRequestEmptyBody, "%s: Incorrect response for request \"%s\" from %s", kFunction,
                         path.c_str(), device.c_str());
  } else if (status == 401) {
    result.SetResultEx(LogError, kRequestUnauthorized,
                       "%s: %s is unable to process \"%s\" request: credentials are invalid", kFunction, device.c_str(),
                       path.c_str());
  } else if (status == 404) {
    result.SetResultEx(LogError, kRequestNotFound, "%s: The \"%s\" URL was not found on %s", kFunction, path.c_str(),
                       device.c_str());
  } else {
    result.SetResultEx(LogError, kRequestHttpError,
                       "%s: %s is unable to process \"%s\" request. HTTP status code is %u", kFunction, device.c_str(),
                       path.c_str(), status);
  }
  sender.CloseRequest();
  return result;
}

CResultDef RequestGetRD(Web::CBaseHttpSender& sender, const std::string& path) {
  std::vector<uint8_t> scratch;
  return RequestGetRD(scratch, sender, path, false);
}

bool RequestGetString(Web::CBaseHttpSender& sender, std::string& out, const std::string& path) {
  out.clear();
  if (!sender.SendRequest(Get(path))) {
    sender.CloseRequest();
    return false;
  }
  std::vector<uint8_t> body;
  const bool ok = sender.ReadResponse(body) > 0 && !sender.IsBodyIncomplete() && sender.GetStatusCode() == 200;
  if (ok) out.assign(body.begin(), body.end());
  sender.CloseRequest();
  return ok;
}

}  // namespace norvale::HUtils
