#include "decode_thread.h"

#include <windows.h>

#include "system_functions.h"

namespace {

class Win32DecodeThread final : public SevenZipSecondThread {
 public:
  bool Run(void (*job)(void*), void* context) override {
    if (!Started()) return false;
    Lock();
    // A job run before has handed over its end already, but its call may
    // not have returned yet: the thread takes this one when it has.
    job_ = job;
    context_ = context;
    Wake();
    Unlock();
    return true;
  }
  void Lock() override { EnterCriticalSection(&lock_); }
  void Unlock() override { LeaveCriticalSection(&lock_); }
  void Sleep() override { functions_.sleep(&condition_, &lock_, INFINITE); }
  void Wake() override { functions_.wakeAll(&condition_); }

 private:
  enum class State { kNotStarted, kRunning, kNone };

  bool Started() {
    if (state_ == State::kNotStarted) {
      state_ = State::kNone;
      if (!LookUpConditionFunctions(&functions_)) return false;
      InitializeCriticalSection(&lock_);
      HANDLE thread = CreateThread(nullptr, 0, &Win32DecodeThread::Main, this, 0, nullptr);
      if (!thread) return false;
      // The thread lives until the process ends; its handle is not needed.
      CloseHandle(thread);
      state_ = State::kRunning;
    }
    return state_ == State::kRunning;
  }

  static DWORD WINAPI Main(void* self) {
    auto* t = static_cast<Win32DecodeThread*>(self);
    t->Lock();
    for (;;) {
      while (!t->job_) t->Sleep();
      void (*job)(void*) = t->job_;
      void* context = t->context_;
      t->job_ = nullptr;
      t->Unlock();
      job(context);
      t->Lock();
    }
  }

  State state_ = State::kNotStarted;
  CRITICAL_SECTION lock_;
  void* condition_ = nullptr;  // CONDITION_VARIABLE: one pointer, zero when unused
  ConditionFunctions functions_ = {};
  void (*job_)(void*) = nullptr;
  void* context_ = nullptr;
};

Win32DecodeThread decodeThread;

}  // namespace

SevenZipSecondThread* DecodeThread() { return &decodeThread; }
