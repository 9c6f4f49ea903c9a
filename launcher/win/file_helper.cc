#include "file_helper.h"

#include "system_functions.h"

struct FileTask {
  FileTask* next;
  bool isDelete;
  size_t size;     // bytes of data behind the path (0 for a delete)
  size_t bytes;    // the whole allocation: what it takes of the queue's room
  wchar_t* path;   // in the same allocation, behind the task
  uint8_t* data;   // behind the path
};

namespace {

// What may wait in the queue: enough to keep the helper busy while the main
// thread decodes, little beside the decoder's own memory.
constexpr size_t kQueueBytes = 4u << 20;
constexpr DWORD kQueueTasks = 512;

enum class State { kNotStarted, kRunning, kNone };

struct Helper {
  State state = State::kNotStarted;
  CRITICAL_SECTION lock;
  void* work = nullptr;  // condition: a task was queued
  void* idle = nullptr;  // condition: the queue ran empty and the helper is idle
  ConditionFunctions condition = {};
  FileTask* head = nullptr;
  FileTask* tail = nullptr;
  size_t queuedBytes = 0;
  DWORD queuedTasks = 0;
  bool busy = false;  // the helper is carrying out a task
  HelperOutcome outcome = {};
  volatile LONG writeFailed = 0;
};
Helper helper;

size_t TaskBytes(const FileTask* task) { return task->bytes; }

// A task for `path` (`pathLength` characters, terminator not counted) with
// room for `size` bytes; null when memory is short.
FileTask* NewFileTask(const wchar_t* path, DWORD pathLength, size_t size) {
  const size_t pathBytes = (pathLength + 1) * sizeof(wchar_t);
  const size_t bytes = sizeof(FileTask) + pathBytes + size;
  auto* task = static_cast<FileTask*>(HeapAlloc(GetProcessHeap(), 0, bytes));
  if (!task) return nullptr;
  task->bytes = bytes;
  task->next = nullptr;
  task->isDelete = false;
  task->size = size;
  task->path = reinterpret_cast<wchar_t*>(task + 1);
  CopyMemory(task->path, path, pathLength * sizeof(wchar_t));
  task->path[pathLength] = L'\0';
  task->data = reinterpret_cast<uint8_t*>(task->path) + pathBytes;
  return task;
}

// Frees a task, carried out or not.
void FreeFileTask(FileTask* task) {
  // Best effort: the block came from this heap.
  HeapFree(GetProcessHeap(), 0, task);
}

// Writes the task's file; the step that failed (with the file removed), or
// kNone.
FileStep WriteTaskFile(const FileTask* task) {
  HANDLE file = CreateFileW(task->path, GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return FileStep::kCreate;
  DWORD written = 0;
  FileStep failed = FileStep::kNone;
  if (task->size != 0 &&
      !(WriteFile(file, task->data, static_cast<DWORD>(task->size), &written, nullptr) &&
        written == task->size))
    failed = FileStep::kWrite;
  if (!CloseHandle(file) && failed == FileStep::kNone) failed = FileStep::kClose;
  // Best effort: what stays goes with the extraction folder.
  if (failed != FileStep::kNone) DeleteFileW(task->path);
  return failed;
}

// Carries out a queued task and notes its failure (under the lock).
void CarryOut(FileTask* task) {
  bool ok = true;
  DWORD error = 0;
  FileStep failed = FileStep::kNone;
  if (task->isDelete) {
    ok = DeleteFileW(task->path) != FALSE;
    if (!ok) error = GetLastError();
  } else if (!helper.writeFailed) {
    // Once a file has failed the extraction has failed: the rest is dropped.
    failed = WriteTaskFile(task);
  }
  EnterCriticalSection(&helper.lock);
  if (failed != FileStep::kNone) {
    if (!helper.outcome.writeFailed) helper.outcome.failedStep = failed;
    helper.outcome.writeFailed = true;
    InterlockedExchange(&helper.writeFailed, 1);
  } else if (!ok) {
    const bool held = error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
                      error == ERROR_ACCESS_DENIED;
    if (held) helper.outcome.deleteHeld = true;
  }
  helper.queuedBytes -= TaskBytes(task);
  --helper.queuedTasks;
  LeaveCriticalSection(&helper.lock);
  FreeFileTask(task);
}

// Takes the queue's first task; null when it is empty. Under the lock.
FileTask* Take() {
  FileTask* task = helper.head;
  if (task) {
    helper.head = task->next;
    if (!helper.head) helper.tail = nullptr;
  }
  return task;
}

DWORD WINAPI HelperThread(void*) {
  EnterCriticalSection(&helper.lock);
  for (;;) {
    FileTask* task = Take();
    if (!task) {
      helper.busy = false;
      helper.condition.wake(&helper.idle);
      helper.condition.sleep(&helper.work, &helper.lock, INFINITE);
      continue;
    }
    helper.busy = true;
    LeaveCriticalSection(&helper.lock);
    CarryOut(task);
    EnterCriticalSection(&helper.lock);
  }
}

bool Started() {
  if (helper.state == State::kNotStarted) {
    helper.state = State::kNone;
    if (!LookUpConditionFunctions(&helper.condition)) return false;
    InitializeCriticalSection(&helper.lock);
    HANDLE thread = CreateThread(nullptr, 0, HelperThread, nullptr, 0, nullptr);
    if (!thread) return false;
    // The thread lives until the process ends; its handle is not needed.
    CloseHandle(thread);
    helper.state = State::kRunning;
  }
  return helper.state == State::kRunning;
}

// Queues `task` when the helper runs and there is room.
bool Queue(FileTask* task) {
  if (!Started()) return false;
  EnterCriticalSection(&helper.lock);
  const bool room = helper.queuedTasks < kQueueTasks &&
                    helper.queuedBytes + TaskBytes(task) <= kQueueBytes;
  if (room) {
    task->next = nullptr;
    (helper.tail ? helper.tail->next : helper.head) = task;
    helper.tail = task;
    helper.queuedBytes += TaskBytes(task);
    ++helper.queuedTasks;
    helper.condition.wake(&helper.work);
  }
  LeaveCriticalSection(&helper.lock);
  return room;
}

// Creates the task's file, writes its bytes and closes it: queued for the
// helper when there is room, else done here and now. Takes the task over.
// False only for a failure met here (its step in `failed` where given).
bool SubmitFileTask(FileTask* task, FileStep* failed) {
  if (Queue(task)) return true;
  const FileStep step = WriteTaskFile(task);
  FreeFileTask(task);
  if (failed) *failed = step;
  return step == FileStep::kNone;
}

}  // namespace

bool OutputFile::Create(const wchar_t* path, uint64_t size) {
  path_ = path;
  if (size <= kHelperFileLimit) {
    task_ = NewFileTask(path, lstrlenW(path), static_cast<size_t>(size));
    size_ = static_cast<size_t>(size);
    filled_ = 0;
    return task_ != nullptr;
  }
  file_ = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, CREATE_NEW,
                      FILE_ATTRIBUTE_NORMAL, nullptr);
  return file_ != INVALID_HANDLE_VALUE;
}

bool OutputFile::Write(const uint8_t* data, size_t size) {
  if (task_) {
    if (size > size_ - filled_) return false;
    CopyMemory(task_->data + filled_, data, size);
    filled_ += size;
    return true;
  }
  // Pieces are at most 1 MiB: one call each.
  DWORD written = 0;
  return WriteFile(file_, data, static_cast<DWORD>(size), &written, nullptr) && written == size;
}

bool OutputFile::Close(FileStep* failed) {
  if (FileTask* task = task_) {
    task_ = nullptr;
    if (filled_ != size_) {
      FreeFileTask(task);
      return false;
    }
    return SubmitFileTask(task, failed) && !HelperWriteFailed();
  }
  const bool closed = CloseHandle(file_) != FALSE;
  file_ = INVALID_HANDLE_VALUE;
  return closed;
}

void OutputFile::Discard() {
  if (task_) FreeFileTask(task_);
  task_ = nullptr;
  if (file_ == INVALID_HANDLE_VALUE) return;
  // Best effort: the extraction fails anyway; a part that stays is deleted
  // with the extraction folder.
  CloseHandle(file_);
  file_ = INVALID_HANDLE_VALUE;
  DeleteFileW(path_);
}

bool SubmitDelete(const wchar_t* path, DWORD pathLength) {
  if (helper.state != State::kNone) {
    if (FileTask* task = NewFileTask(path, pathLength, 0)) {
      task->isDelete = true;
      if (Queue(task)) return true;
      FreeFileTask(task);
    }
  }
  return DeleteFileW(path) != FALSE;
}

bool HelperWriteFailed() { return helper.writeFailed != 0; }

HelperOutcome FinishFileTasks() {
  HelperOutcome outcome = {};
  if (helper.state != State::kRunning) return outcome;
  EnterCriticalSection(&helper.lock);
  // Takes queued tasks while the helper works on others: the queue empties
  // twice as fast.
  while (FileTask* task = Take()) {
    LeaveCriticalSection(&helper.lock);
    CarryOut(task);
    EnterCriticalSection(&helper.lock);
  }
  while (helper.busy || helper.head) helper.condition.sleep(&helper.idle, &helper.lock, INFINITE);
  outcome = helper.outcome;
  helper.outcome = {};
  InterlockedExchange(&helper.writeFailed, 0);
  LeaveCriticalSection(&helper.lock);
  return outcome;
}
