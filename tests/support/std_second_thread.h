// The 7z walk's second thread for the host tests, on the standard library.
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

#include "seven_zip_thread.h"

namespace tvtest {

class StdSecondThread final : public SevenZipSecondThread {
 public:
  ~StdSecondThread() { Join(); }
  bool Run(void (*job)(void*), void* context) override {
    Join();
    thread_ = std::thread(job, context);
    return true;
  }
  void Lock() override { mutex_.lock(); }
  void Unlock() override { mutex_.unlock(); }
  void Sleep() override {
    std::unique_lock<std::mutex> held(mutex_, std::adopt_lock);
    condition_.wait(held);
    held.release();
  }
  void Wake() override { condition_.notify_all(); }

 private:
  void Join() {
    if (thread_.joinable()) thread_.join();
  }
  std::mutex mutex_;
  std::condition_variable condition_;
  std::thread thread_;
};

}  // namespace tvtest
