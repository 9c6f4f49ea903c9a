// What the download tests share: the test PKI's files and a message-only
// host window that records what the worker posts. (The log: log_reader.h.)
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "download_helper.h"

namespace tvtest {

// Bytes of a file of the test PKI made at build time.
std::string Pki(const std::string& name);

tovik::DownloadBuffer* NewBuffer(const std::string& bytes);
void FreeBuffer(tovik::DownloadBuffer* buffer);

struct Posted {
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
};

// A message-only window on the calling thread that records every posted
// message of the download protocol.
class TestHost {
 public:
  TestHost();
  ~TestHost();
  HWND hwnd() const { return hwnd_; }
  // Pumps until a final message (DONE or FAILED) arrived or `timeoutMs`
  // passed; true when one arrived.
  bool WaitForFinal(DWORD timeoutMs = 60000);
  // Pumps for `ms` milliseconds.
  void Pump(DWORD ms);
  const std::vector<Posted>& posted() const { return posted_; }
  void Clear() { posted_.clear(); }

 private:
  static LRESULT CALLBACK Proc(HWND, UINT, WPARAM, LPARAM);
  HWND hwnd_ = nullptr;
  std::vector<Posted> posted_;
};

// The request paths of the worker's two addresses on this system.
std::string InstallerPath();
std::string SignaturePath();
std::string InstallerAddress();
std::string SignatureAddress();

}  // namespace tvtest
