#include "http_transfer.h"

#include <stdio.h>
#include <string.h>

#include "system_libraries.h"
#include "version.h"

namespace tovik {

namespace {

constexpr char kAgent[] = "Tessaro Vantel Bootstrapper" TV_VERSION_TEXT;

// Below this change a shrinking receive time-out is not set again: a wait
// may run over the limit by at most this much.
constexpr DWORD kRearmSlackMs = 500;

bool IsRedirect(DWORD status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// Best effort: a handle that refuses a time-out keeps the system's, and the
// waits below are bounded by the one set on the open connection.
void SetTimeouts(const WininetFunctions& net, HINTERNET handle, const HttpTransfer::Bounds& bounds) {
  DWORD value = bounds.connectTimeoutMs;
  net.internetSetOption(handle, INTERNET_OPTION_CONNECT_TIMEOUT, &value, sizeof(value));
  value = bounds.sendTimeoutMs;
  net.internetSetOption(handle, INTERNET_OPTION_SEND_TIMEOUT, &value, sizeof(value));
  value = bounds.receiveTimeoutMs;
  net.internetSetOption(handle, INTERNET_OPTION_RECEIVE_TIMEOUT, &value, sizeof(value));
}

// The decimal digits of `text` as a number; false for anything else or a
// value beyond 64 bits.
bool ParseLength(const char* text, uint64_t* value) {
  while (*text == ' ') ++text;
  if (*text < '0' || *text > '9') return false;
  uint64_t result = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    uint64_t digit = static_cast<uint64_t>(*text - '0');
    if (result > (UINT64_MAX - digit) / 10) return false;
    result = result * 10 + digit;
  }
  while (*text == ' ') ++text;
  if (*text != '\0') return false;
  *value = result;
  return true;
}

}  // namespace

HttpTransfer::HttpTransfer(const Bounds& bounds) : bounds_(bounds) {}

HttpTransfer::~HttpTransfer() {
  CloseRequest();
  if (internet_ != nullptr) net_->internetCloseHandle(internet_);
}

void HttpTransfer::CloseRequest() {
  if (request_ != nullptr) net_->internetCloseHandle(request_);
  if (connection_ != nullptr) net_->internetCloseHandle(connection_);
  request_ = nullptr;
  connection_ = nullptr;
}

bool HttpTransfer::ArmReceiveTimeout() {
  DWORD now = GetTickCount();
  DWORD quiet = now - lastByte_;
  DWORD left = quiet < bounds_.receiveTimeoutMs ? bounds_.receiveTimeoutMs - quiet : 0;
  if (bounds_.totalMs != 0) {
    DWORD elapsed = now - start_;
    DWORD total = elapsed < bounds_.totalMs ? bounds_.totalMs - elapsed : 0;
    if (total < left) left = total;
  }
  if (left == 0) return false;
  if (left > armed_ || left + kRearmSlackMs < armed_) {
    // Best effort, as in SetTimeouts.
    net_->internetSetOption(request_, INTERNET_OPTION_RECEIVE_TIMEOUT, &left, sizeof(left));
    armed_ = left;
  }
  return true;
}

bool HttpTransfer::TakeRedirect() {
  char location[2048];
  DWORD size = sizeof(location);
  if (!net_->httpQueryInfo(request_, HTTP_QUERY_LOCATION, location, &size, nullptr) || location[0] == '\0') {
    return false;
  }
  // The Location may be relative to the address just asked.
  char base[2400];
  int written = snprintf(base, sizeof(base), "%s://%s:%u%s", secure_ ? "https" : "http", host_,
                         static_cast<unsigned>(port_), path_);
  if (written < 0 || static_cast<size_t>(written) >= sizeof(base)) return false;
  char target[2048];
  size = sizeof(target);
  if (!net_->internetCombineUrl(base, location, target, &size, ICU_NO_ENCODE)) return false;

  HttpAddress next;
  if (SplitHttpAddress(target, &next) != AddressKind::kHttp) return false;
  memcpy(host_, next.host, sizeof(host_));
  memcpy(path_, next.path, sizeof(path_));
  port_ = next.port;
  secure_ = next.secure;
  return true;
}

bool HttpTransfer::SetRequestHeaders(const char* headers) {
  headers_[0] = '\0';
  if (headers == nullptr) return true;
  if (strlen(headers) >= sizeof(headers_)) return false;
  strcpy(headers_, headers);
  return true;
}

bool HttpTransfer::QueryHeader(DWORD query, char* text, DWORD capacity) const {
  if (request_ == nullptr || capacity == 0) return false;
  DWORD size = capacity;
  if (!net_->httpQueryInfo(request_, query, text, &size, nullptr)) return false;
  return size < capacity;
}

HttpTransfer::Outcome HttpTransfer::SendAndAwait() {
  constexpr int kMaxPrompts = 3;
  for (int prompts = 0;; ++prompts) {
    armed_ = 0;
    if (!net_->httpSendRequestEx(request_, nullptr, nullptr, 0, 0)) {
      error_ = GetLastError();
      return error_ == ERROR_INTERNET_TIMEOUT ? kFailed : kUnableToConnect;
    }
    // The connection is open now: from here on the time-out holds.
    lastByte_ = GetTickCount();
    if (!ArmReceiveTimeout()) return kFailed;
    if (!net_->httpEndRequest(request_, nullptr, 0, 0)) {
      error_ = GetLastError();
      return error_ == ERROR_INTERNET_TIMEOUT || error_ == WSAETIMEDOUT ? kFailed : kUnableToConnect;
    }
    DWORD code = 0;
    DWORD size = sizeof(code);
    if (net_->httpQueryInfo(request_, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &code, &size, nullptr) &&
        code != 0) {
      lastByte_ = GetTickCount();
    } else {
      code = 0;
      // Some platforms end the wait for headers that never came as if an
      // empty response had arrived; that is a time-out all the same.
      if (GetTickCount() - lastByte_ + kRearmSlackMs >= armed_) return kFailed;
    }
    status_ = code;
    if (code != HTTP_STATUS_PROXY_AUTH_REQ || credentialOwner_ == nullptr || prompts == kMaxPrompts) return kOk;
    // The system's own prompt: it reads the proxy's challenge from the
    // request, asks the user and keeps what was entered on the handle, so
    // that the request sent again carries it. Anything but a request to
    // send again leaves the 407 as the response.
    DWORD answer = net_->internetErrorDlg(credentialOwner_, request_, ERROR_SUCCESS,
                                          FLAGS_ERROR_UI_FILTER_FOR_ERRORS | FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS |
                                              FLAGS_ERROR_UI_FLAGS_GENERATE_DATA,
                                          nullptr);
    if (answer != ERROR_INTERNET_FORCE_RETRY) return kOk;
  }
}

AddressKind SplitHttpAddress(const char* address, HttpAddress* out) {
  char host[sizeof(out->host)];
  char path[sizeof(out->path)];
  char extra[sizeof(out->path)];
  const WininetFunctions* net = LoadWininet();
  if (net == nullptr) return AddressKind::kUnusable;
  URL_COMPONENTSA parts = {};
  parts.dwStructSize = sizeof(parts);
  parts.lpszHostName = host;
  parts.dwHostNameLength = sizeof(host);
  parts.lpszUrlPath = path;
  parts.dwUrlPathLength = sizeof(path);
  parts.lpszExtraInfo = extra;
  parts.dwExtraInfoLength = sizeof(extra);
  if (!net->internetCrackUrl(address, 0, 0, &parts)) return AddressKind::kNotHttp;
  if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) return AddressKind::kNotHttp;
  if (host[0] == '\0' || strlen(path) + strlen(extra) + 2 > sizeof(out->path)) return AddressKind::kUnusable;
  memcpy(out->host, host, sizeof(out->host));
  snprintf(out->path, sizeof(out->path), "%s%s", path[0] == '/' ? "" : "/", path);
  strncat(out->path, extra, sizeof(out->path) - strlen(out->path) - 1);
  out->port = parts.nPort;
  out->secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
  return AddressKind::kHttp;
}

HttpTransfer::Outcome HttpTransfer::Open(const char* host, INTERNET_PORT port, bool secure, const char* path) {
  start_ = GetTickCount();
  lastByte_ = start_;
  if (strlen(host) >= sizeof(host_) || strlen(path) >= sizeof(path_)) return kUnableToConnect;
  strcpy(host_, host);
  strcpy(path_, path);
  port_ = port;
  secure_ = secure;

  net_ = LoadWininet();
  if (net_ == nullptr) {
    error_ = ERROR_MOD_NOT_FOUND;
    return kUnableToConnect;
  }
  internet_ = net_->internetOpen(kAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  if (internet_ == nullptr) return Failed(kUnableToConnect);
  SetTimeouts(*net_, internet_, bounds_);

  for (uint32_t redirects = 0;; ++redirects) {
    connection_ = net_->internetConnect(internet_, host_, port_, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
    if (connection_ == nullptr) return Failed(kUnableToConnect);
    SetTimeouts(*net_, connection_, bounds_);
    // Always from the server and never kept in the cache; redirects are
    // counted here, not followed by the system without end.
    DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_AUTO_REDIRECT;
    if (secure_) flags |= INTERNET_FLAG_SECURE;
    request_ = net_->httpOpenRequest(connection_, "GET", path_, "HTTP/1.0", nullptr, nullptr, flags, 0);
    if (request_ == nullptr) return Failed(kUnableToConnect);
    SetTimeouts(*net_, request_, bounds_);
    if (headers_[0] != '\0') {
      // Best effort: without them the server answers the plain request,
      // which the caller tells apart by its status.
      net_->httpAddRequestHeaders(request_, headers_, static_cast<DWORD>(-1),
                                  HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE);
    }
    Outcome sent = SendAndAwait();
    if (sent != kOk) return sent;
    const DWORD code = status_;
    if (IsRedirect(code)) {
      if (redirects >= bounds_.maxRedirects || !TakeRedirect()) return kFailed;
      CloseRequest();
      continue;
    }
    break;
  }

  char text[32];
  DWORD size = sizeof(text);
  hasLength_ = net_->httpQueryInfo(request_, HTTP_QUERY_CONTENT_LENGTH, text, &size, nullptr) &&
               ParseLength(text, &length_);
  if (!hasLength_) length_ = 0;
  return kOk;
}

HttpTransfer::Outcome HttpTransfer::Read(void* into, DWORD want, DWORD* got) {
  *got = 0;
  if (want == 0) return kOk;
  // Nothing was opened.
  if (request_ == nullptr) return kFailed;
  if (!ArmReceiveTimeout()) return kFailed;
  // Some platforms wait until a read's whole buffer is filled. Under an
  // overall limit only what has arrived is taken, so that no read outlasts
  // it; otherwise the full request keeps the reads (and their progress
  // messages) few, and each wait inside it for a byte is still bounded by
  // the receive time-out. Asking what has arrived costs a round trip of its
  // own under some platforms, so it is asked only under an overall limit.
  if (bounds_.totalMs != 0) {
    DWORD available = 0;
    if (!net_->internetQueryDataAvailable(request_, &available, 0, 0)) return Failed(kFailed);
    if (available == 0) return kOk;
    if (available < want) want = available;
  }
  if (!net_->internetReadFile(request_, into, want, got)) return Failed(kFailed);
  // Never more than asked, whatever the platform says.
  if (*got > want) return kFailed;
  if (*got != 0) lastByte_ = GetTickCount();
  read_ += *got;
  return kOk;
}

void HttpTransfer::Discard() {
  constexpr uint64_t kClosableRest = 64 * 1024;
  if (request_ == nullptr || (hasLength_ && length_ <= read_ + kClosableRest)) return;
  // Left open on purpose, see the header: forgetting the handles keeps the
  // destructor from closing them.
  request_ = nullptr;
  connection_ = nullptr;
  internet_ = nullptr;
}

}  // namespace tovik
