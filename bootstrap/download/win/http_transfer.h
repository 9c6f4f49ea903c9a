// One HTTP GET through the system's internet functions, bounded in time:
// a connect, send and receive time-out on every handle, an optional limit
// on the whole transfer, and redirects followed by hand up to a count.
//
// The system's own waits are not trusted to end: some platforms apply the
// receive time-out only to an open connection, and some read until a whole
// buffer is full. So the request goes out first (HttpSendRequestEx), the
// time-out is set on the open connection before the response is awaited
// (HttpEndRequest), and each read first waits for whatever has arrived
// (InternetQueryDataAvailable).
#pragma once

#include <windows.h>
#include <wininet.h>

#include <stdint.h>

namespace tovik {

struct WininetFunctions;

// An address split the way HttpTransfer::Open takes it.
struct HttpAddress {
  char host[256];
  char path[2048];  // path and query, "/" first
  INTERNET_PORT port;
  bool secure;
};

enum class AddressKind {
  kHttp,      // an http or https address whose parts fit
  kNotHttp,   // another scheme, or no address at all
  kUnusable,  // http or https, but without a host or too long; or wininet is missing
};

// Splits `address` into `*out` (filled for kHttp only).
AddressKind SplitHttpAddress(const char* address, HttpAddress* out);

class HttpTransfer {
 public:
  enum Outcome {
    kOk = 0,
    // Timed out, too many redirects, a redirect nowhere, or a failed read.
    kFailed,
    // wininet could not be loaded, or the internet handle, the connection
    // or the request could not be made or sent.
    kUnableToConnect,
  };

  struct Bounds {
    uint32_t connectTimeoutMs;
    uint32_t sendTimeoutMs;
    // Longest wait for a byte, the response headers included.
    uint32_t receiveTimeoutMs;
    // Longest the whole transfer may take; 0: no limit.
    uint32_t totalMs;
    uint32_t maxRedirects;
  };

  explicit HttpTransfer(const Bounds& bounds);
  ~HttpTransfer();
  HttpTransfer(const HttpTransfer&) = delete;
  HttpTransfer& operator=(const HttpTransfer&) = delete;

  // Sends "GET `path` HTTP/1.0" to `host`:`port` (TLS when `secure`),
  // always from the server and never cached, and waits for the response
  // headers. A redirect (301, 302, 303, 307, 308 with a Location) is
  // followed to the address it names, at most maxRedirects times. kOk when
  // a final response's headers have arrived; see status() and length().
  Outcome Open(const char* host, INTERNET_PORT port, bool secure, const char* path);

  // HTTP status of the final response; 0 when none could be read.
  DWORD status() const { return status_; }
  // Whether the response announced its length, and that length (which may
  // exceed 32 bits).
  bool hasLength() const { return hasLength_; }
  uint64_t length() const { return length_; }

  // Reads at most `want` bytes of the body into `into`: waits (within the
  // bounds) until something has arrived; under an overall limit takes no
  // more than that. kOk with *got 0 at the end of the body, or at once when
  // `want` is 0.
  Outcome Read(void* into, DWORD want, DWORD* got);

 private:
  // Sets the receive time-out to what the bounds leave from now; false
  // when nothing is left.
  bool ArmReceiveTimeout();
  void CloseRequest();
  // Follows the Location of the current response: fills host_, port_,
  // secure_ and path_. False when there is none usable.
  bool TakeRedirect();

  Bounds bounds_;
  const WininetFunctions* net_ = nullptr;  // set by Open; null when wininet is missing
  HINTERNET internet_ = nullptr;
  HINTERNET connection_ = nullptr;
  HINTERNET request_ = nullptr;
  DWORD start_ = 0;     // tick count when Open began
  DWORD lastByte_ = 0;  // tick count of the last sign of life from the server
  DWORD armed_ = 0;     // receive time-out last set on the request
  DWORD status_ = 0;
  bool hasLength_ = false;
  uint64_t length_ = 0;
  char host_[256] = {};
  char path_[2048] = {};
  INTERNET_PORT port_ = INTERNET_DEFAULT_HTTP_PORT;
  bool secure_ = false;
};

}  // namespace tovik
