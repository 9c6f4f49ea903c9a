// The 7z walk's second thread (seven_zip_thread.h): a block's main coder
// decodes on it while the main thread filters, checks and writes what it
// made. Started with the first block that uses it; it lives until the
// process ends. A system without condition variables gets no second thread,
// and the walk decodes on the main thread as it would without it.
#pragma once

#include "seven_zip_thread.h"

// The process's decode thread.
SevenZipSecondThread* DecodeThread();
