#pragma once
// The system's HTTP service behind the OS seam (WinHTTP on Windows): one kept-alive connection to one
// web server, one request at a time. The service itself never logs in (no automatic authentication,
// no stored credentials): the caller puts its own Authorization header on the request. Redirects and
// cookies are not handled either. Every call is non-throwing.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace norvale::platform {

struct HttpConnection;  // opaque

// Prepares a connection to host:port; no network traffic happens yet. Connecting, sending and each
// wait for data are bounded by timeoutMs. Null when the HTTP service cannot be set up, with the
// system's error code in *error.
HttpConnection* OpenHttpConnection(const std::string& host, uint16_t port, uint32_t timeoutMs,
                                   const std::string& userAgent, uint32_t* error);
// Ends a request in progress and releases the connection. No other call may be running on it.
void CloseHttpConnection(HttpConnection* connection);

// Sends one request and waits for the header block of its final answer. The previous request must
// have been ended. target goes on the request line exactly as it is; headers are "Name: value\r\n"
// lines; body is sent when not empty. The request and every read of its answer give up once
// deadlineMs have passed from now, however steadily the server keeps it alive. False when no answer
// came (refused, unreachable, broken, unreadable, out of time or cancelled).
bool SendHttpRequest(HttpConnection* connection, const std::string& verb, const std::string& target,
                     const std::string& headers, const std::vector<uint8_t>& body, uint32_t deadlineMs);
// Status of the answer SendHttpRequest waited for.
uint32_t HttpStatus(const HttpConnection* connection);
// The values of every header of that name in the answer, in their order, at most maxValues.
std::vector<std::string> HttpHeaderValues(HttpConnection* connection, const char* name, size_t maxValues);
// Reads up to size body bytes, waiting for them: the count read, 0 at the regular end of the body, or
// -1 when the body broke off (closed connection, silence, deadline, cancellation) before its end.
int ReadHttpBody(HttpConnection* connection, void* buffer, size_t size);
// Ends the current request (if any) and clears a cancellation. An answer not read to its end is first
// read away, up to drainBytes within drainMs, so that the connection can serve the next request;
// otherwise the connection is dropped.
void EndHttpRequest(HttpConnection* connection, size_t drainBytes, uint32_t drainMs);
// Safe from any thread: a blocked SendHttpRequest or ReadHttpBody returns at once with a failure, and
// so does every later call until EndHttpRequest.
void CancelHttpRequest(HttpConnection* connection);

}  // namespace norvale::platform
