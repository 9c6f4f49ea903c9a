// A scripted HTTP/1.x server on 127.0.0.1 for tests under Wine: it answers
// each request path with the response a test set for it (404 for any other
// path), records every request, and closes the connection after each
// response. Runs on a thread of the test program.
#pragma once

#include <windows.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tvtest {

struct HttpResponse {
  int status = 200;
  std::string body;
  // Send a Content-Length header announcing the whole body.
  bool contentLength = true;
  // Body bytes actually sent before the connection is closed; fewer than
  // the body makes a response cut short. npos: all of it.
  size_t sendBytes = std::string::npos;
  // Wait before the status line (a slow server) ...
  DWORD delayMs = 0;
  // ... and between chunks of the body (a slow transfer).
  DWORD chunkDelayMs = 0;
  size_t chunkSize = 65536;
};

struct HttpRequest {
  std::string method;
  std::string target;   // as sent, e.g. "/vantel/3/tov/windows6.1/x86/installer"
  std::string version;  // e.g. "HTTP/1.0"
  std::string head;     // request line and headers as received
  // Value of a header (case-insensitive name), empty when absent.
  std::string Header(const std::string& name) const;
};

class HttpFixture {
 public:
  // Starts listening on 127.0.0.1:port; check listening().
  explicit HttpFixture(unsigned short port = 80);
  ~HttpFixture();
  HttpFixture(const HttpFixture&) = delete;
  HttpFixture& operator=(const HttpFixture&) = delete;

  bool listening() const { return listener_ != ~static_cast<uintptr_t>(0); }
  unsigned short port() const { return port_; }

  // Answer requests for `path` (without the query) with `response`.
  void Serve(const std::string& path, const HttpResponse& response);
  // Shorthand: 200 with `body` and Content-Length.
  void Serve(const std::string& path, const std::string& body);
  void Remove(const std::string& path);

  std::vector<HttpRequest> Requests() const;
  std::vector<std::string> RequestedTargets() const;
  void ClearRequests();

 private:
  void AcceptLoop();
  void Handle(uintptr_t connection);

  unsigned short port_;
  uintptr_t listener_ = ~static_cast<uintptr_t>(0);
  mutable std::mutex mutex_;
  std::vector<std::pair<std::string, HttpResponse>> routes_;
  std::vector<HttpRequest> requests_;
  std::thread thread_;
};

}  // namespace tvtest
