#pragma once
// The camera's CGI requests as the camera-facing code sends them: one GET, its outcome classified
// into a result code, level and message.
#include <cstdint>
#include <string>
#include <vector>

#include "camera/CBaseHttpSender.h"
#include "runtime/CResultDef.h"

namespace norvale::HUtils {

// Result codes of RequestGetRD.
enum : int32_t {
  kRequestOk = 0,
  kRequestHttpError = 8,      // any status that is not 2xx, 401 or 404 (level 1)
  kRequestNotFound = 9,       // 404 (level 1)
  kRequestUnauthorized = 10,  // 401 (level 1)
  kRequestNotSent = 11,       // no answer at all (level 4: never forwarded to the host)
  kRequestEmptyBody = 12,     // 2xx without the body that was asked for (level 2)
};

// GET path; with readBody, a 2xx answer must carry a whole body, which is returned (at most about 1 MiB);
// a body that ends before its announced end is code 12 like a missing one.
CResultDef RequestGetRD(std::vector<uint8_t>& body, Web::CBaseHttpSender& sender, const std::string& path,
                        bool readBody);
// GET path for a command whose answer is not read: any 2xx answer succeeds.
CResultDef RequestGetRD(Web::CBaseHttpSender& sender, const std::string& path);
// GET path; true with the body as text when the camera answered 200 with a non-empty body.
bool RequestGetString(Web::CBaseHttpSender& sender, std::string& out, const std::string& path);

}  // namespace norvale::HUtils
