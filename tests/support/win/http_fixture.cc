// Winsock first: it must precede windows.h.
#include <winsock2.h>
#include <ws2tcpip.h>

#include "http_fixture.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

namespace tvtest {

namespace {

const char* Reason(int status) {
  switch (status) {
    case 200: return "OK";
    case 206: return "Partial Content";
    case 302: return "Found";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "Status";
  }
}

bool SendAll(SOCKET s, const char* data, size_t size) {
  while (size > 0) {
    int n = send(s, data, static_cast<int>(std::min<size_t>(size, 1 << 20)), 0);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

std::string HttpRequest::Header(const std::string& name) const {
  const std::string wanted = Lower(name) + ":";
  size_t at = head.find("\r\n");
  while (at != std::string::npos && at + 2 < head.size()) {
    size_t end = head.find("\r\n", at + 2);
    std::string line = head.substr(at + 2, end == std::string::npos ? std::string::npos : end - at - 2);
    if (Lower(line.substr(0, wanted.size())) == wanted) {
      std::string value = line.substr(wanted.size());
      value.erase(0, value.find_first_not_of(' '));
      return value;
    }
    at = end;
  }
  return {};
}

HttpFixture::HttpFixture(unsigned short port) : port_(port) {
  stop_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  WSADATA wsa;
  if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) return;
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return;
  // Rebinding right after a previous test's connections is fine.
  BOOL on = TRUE;
  setsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on), sizeof(on));
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 || listen(s, 16) != 0) {
    closesocket(s);
    return;
  }
  listener_ = static_cast<uintptr_t>(s);
  thread_ = std::thread([this] { AcceptLoop(); });
}

HttpFixture::~HttpFixture() {
  SetEvent(stop_);
  if (listening()) {
    closesocket(static_cast<SOCKET>(listener_));
    if (thread_.joinable()) thread_.join();
  }
  for (std::thread& connection : connections_) connection.join();
  CloseHandle(stop_);
  WSACleanup();
}

void HttpFixture::Serve(const std::string& path, HttpResponse response) {
  std::vector<HttpResponse> one;
  one.push_back(std::move(response));
  ServeSequence(path, std::move(one));
}

void HttpFixture::ServeSequence(const std::string& path, std::vector<HttpResponse> responses) {
  Route route;
  route.path = path;
  for (HttpResponse& r : responses) route.responses.push_back(std::make_shared<const HttpResponse>(std::move(r)));
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto& existing : routes_) {
    if (existing.path == path) {
      existing = std::move(route);
      return;
    }
  }
  routes_.push_back(std::move(route));
}

void HttpFixture::Serve(const std::string& path, std::string body) {
  HttpResponse response;
  response.body = std::move(body);
  Serve(path, std::move(response));
}

void HttpFixture::Remove(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  routes_.erase(std::remove_if(routes_.begin(), routes_.end(), [&](const auto& r) { return r.path == path; }),
                routes_.end());
}

std::vector<HttpRequest> HttpFixture::Requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

std::vector<std::string> HttpFixture::RequestedTargets() const {
  std::vector<std::string> targets;
  for (const HttpRequest& r : Requests()) targets.push_back(r.target);
  return targets;
}

void HttpFixture::ClearRequests() {
  std::lock_guard<std::mutex> lock(mutex_);
  requests_.clear();
}

void HttpFixture::AcceptLoop() {
  for (;;) {
    SOCKET c = accept(static_cast<SOCKET>(listener_), nullptr, nullptr);
    if (c == INVALID_SOCKET) return;  // the listener was closed
    connections_.emplace_back([this, c] { Handle(static_cast<uintptr_t>(c)); });
  }
}

void HttpFixture::Handle(uintptr_t connection) {
  SOCKET c = static_cast<SOCKET>(connection);
  // A client that keeps the connection open must not stall the server.
  DWORD timeoutMs = 5000;
  setsockopt(c, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeoutMs), sizeof(timeoutMs));
  // Nor one that stops reading (it may leave a refused response unread
  // until it ends).
  setsockopt(c, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&timeoutMs), sizeof(timeoutMs));
  std::string head;
  char buffer[4096];
  while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536) {
    int n = recv(c, buffer, sizeof(buffer), 0);
    if (n <= 0) break;
    head.append(buffer, static_cast<size_t>(n));
  }
  size_t end = head.find("\r\n\r\n");
  if (end == std::string::npos) {
    closesocket(c);
    return;
  }
  head.resize(end + 2);

  HttpRequest request;
  request.head = head;
  std::string line = head.substr(0, head.find("\r\n"));
  size_t sp1 = line.find(' ');
  size_t sp2 = line.rfind(' ');
  if (sp1 != std::string::npos && sp2 != std::string::npos && sp2 > sp1) {
    request.method = line.substr(0, sp1);
    request.target = line.substr(sp1 + 1, sp2 - sp1 - 1);
    request.version = line.substr(sp2 + 1);
  }
  std::string path = request.target.substr(0, request.target.find('?'));

  static const HttpResponse kNotFound = [] {
    HttpResponse r;
    r.status = 404;
    r.body = "not found";
    return r;
  }();
  std::shared_ptr<const HttpResponse> route;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(request);
    for (auto& r : routes_) {
      if (r.path == path && !r.responses.empty()) {
        route = r.responses[std::min(r.served, r.responses.size() - 1)];
        ++r.served;
      }
    }
  }
  const HttpResponse& response = route != nullptr ? *route : kNotFound;

  if (response.delayMs != 0) WaitForSingleObject(stop_, response.delayMs);
  const uint64_t whole = response.generatedBytes != 0 ? response.generatedBytes : response.body.size();
  // A range from `first` on, when asked for and honoured.
  uint64_t first = 0;
  int status = response.status;
  const std::string range = request.Header("Range");
  const std::string ifRange = request.Header("If-Range");
  unsigned long long asked = 0;
  if (response.honourRange && status == 200 && sscanf(range.c_str(), "bytes=%llu-", &asked) == 1 && asked < whole &&
      (ifRange.empty() || ifRange == response.etag)) {
    first = asked;
    status = 206;
  }
  const uint64_t size = whole - first;
  std::string header = std::string(response.chunked ? "HTTP/1.1 " : "HTTP/1.0 ") + std::to_string(status) + " " +
                       Reason(status) + "\r\n";
  header += "Content-Type: application/octet-stream\r\n";
  if (status == 206) {
    header += "Content-Range: bytes " + std::to_string(first) + "-" + std::to_string(whole - 1) + "/" +
              std::to_string(whole) + "\r\n";
  }
  if (!response.etag.empty()) header += "ETag: " + response.etag + "\r\n";
  if (response.chunked) {
    header += "Transfer-Encoding: chunked\r\n";
  } else if (!response.lengthHeader.empty()) {
    header += "Content-Length: " + response.lengthHeader + "\r\n";
  } else if (response.contentLength) {
    header += "Content-Length: " + std::to_string(size) + "\r\n";
  }
  header += response.extraHeaders;
  header += "Connection: close\r\n\r\n";
  bool ok = SendAll(c, header.data(), header.size());
  const uint64_t total = std::min<uint64_t>(response.sendBytes, size);
  const size_t chunk = response.chunkSize != 0 ? response.chunkSize : static_cast<size_t>(std::min<uint64_t>(total, 1 << 20));
  std::string pattern;
  for (uint64_t sent = 0; ok && sent < total; sent += chunk) {
    if (sent != 0 && response.chunkDelayMs != 0 && WaitForSingleObject(stop_, response.chunkDelayMs) == WAIT_OBJECT_0) {
      ok = false;
      break;
    }
    const size_t n = static_cast<size_t>(std::min<uint64_t>(chunk, total - sent));
    const char* data;
    if (response.generatedBytes != 0) {
      if (pattern.size() < n) {
        pattern.resize(n);
        for (size_t i = 0; i < n; ++i) pattern[i] = static_cast<char>('a' + i % 26);
      }
      data = pattern.data();
    } else {
      data = response.body.data() + first + sent;
    }
    if (response.chunked) {
      char size_line[32];
      snprintf(size_line, sizeof(size_line), "%zx\r\n", n);
      ok = SendAll(c, size_line, strlen(size_line)) && SendAll(c, data, n) && SendAll(c, "\r\n", 2);
    } else {
      ok = SendAll(c, data, n);
    }
  }
  if (ok && response.chunked && total == size) SendAll(c, "0\r\n\r\n", 5);
  if (response.holdMs != 0) WaitForSingleObject(stop_, response.holdMs);
  shutdown(c, SD_SEND);
  // Let the client read everything before the socket goes away.
  while (recv(c, buffer, sizeof(buffer), 0) > 0) {
  }
  closesocket(c);
}

}  // namespace tvtest
