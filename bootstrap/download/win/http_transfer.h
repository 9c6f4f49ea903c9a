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

  // Header lines (each ending in CR LF) sent with every request of the next
  // Open, redirects included; null or empty: none. False (and none set)
  // when they exceed 511 bytes.
  bool SetRequestHeaders(const char* headers);

  // The window that owns the system's credential prompt when a proxy asks
  // for authentication (407); null, the default: never prompt, and the 407
  // is the response.
  void SetCredentialOwner(HWND owner) { credentialOwner_ = owner; }

  // Sends "GET `path` HTTP/1.0" to `host`:`port` (TLS when `secure`),
  // through the system's proxy settings, always from the server and never
  // cached, and waits for the response headers. A redirect (301, 302, 303,
  // 307, 308 with a Location) is followed to the address it names, at most
  // maxRedirects times. A 407 with a credential owner shows the system's
  // prompt (at most 3 times) and sends the request again when it asks to.
  // kOk when a final response's headers have arrived; see status() and
  // length(). Call once per object: a second request needs a new one.
  Outcome Open(const char* host, INTERNET_PORT port, bool secure, const char* path);

  // Copies the response header named by `query` (HTTP_QUERY_*) into `text`
  // (terminated). False when the response has none or it does not fit.
  bool QueryHeader(DWORD query, char* text, DWORD capacity) const;

  // The system error behind the last failed call (0: none recorded), for
  // the log.
  DWORD lastError() const { return error_; }

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

  // Gives up the response without reading the rest of its body. Some
  // platforms, when a request is closed, read what remains of its body for
  // as long as the server keeps it coming, so a refused response of hundreds
  // of megabytes would be read all the same. So unless little (64 KiB) or
  // nothing remains, the handles are left open and the connection goes with
  // the process (at most one per request made); the caller ends its run.
  void Discard();

 private:
  // Sets the receive time-out to what the bounds leave from now; false
  // when nothing is left.
  bool ArmReceiveTimeout();
  void CloseRequest();
  // Records the system error of the call that just failed; answers `outcome`.
  Outcome Failed(Outcome outcome) {
    error_ = GetLastError();
    return outcome;
  }
  // Follows the Location of the current response: fills host_, port_,
  // secure_ and path_. False when there is none usable.
  bool TakeRedirect();
  // Sends the open request and waits for its headers, again after a
  // credential prompt that asks for it; sets status_. kOk when a status
  // arrived (status_ 0: none could be read).
  Outcome SendAndAwait();

  Bounds bounds_;
  const WininetFunctions* net_ = nullptr;  // set by Open; null when wininet is missing
  HINTERNET internet_ = nullptr;
  HINTERNET connection_ = nullptr;
  HINTERNET request_ = nullptr;
  DWORD start_ = 0;     // tick count when Open began
  DWORD lastByte_ = 0;  // tick count of the last sign of life from the server
  DWORD armed_ = 0;     // receive time-out last set on the request
  DWORD status_ = 0;
  DWORD error_ = 0;
  bool hasLength_ = false;
  uint64_t length_ = 0;
  uint64_t read_ = 0;  // body bytes read so far
  char host_[256] = {};
  char path_[2048] = {};
  char headers_[512] = {};
  HWND credentialOwner_ = nullptr;
  INTERNET_PORT port_ = INTERNET_DEFAULT_HTTP_PORT;
  bool secure_ = false;
};

}  // namespace tovik
