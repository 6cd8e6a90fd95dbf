#pragma once

#include <atomic>
#include <cstdint>

#include "engine/IconJobFlags.h"
#include "sys/WideString.h"

// One batch: filled by the caller before it starts and the only state shared with a batch worker thread.
// While a worker runs, only cancel is written (by the caller, to stop it before the next item).
struct BatchJob {
    // The application object that started the job; a job without owner does nothing.
    const void* owner = nullptr;
    std::atomic<bool> cancel{false};
    IconJobFlags flags = 0;
    SizeList sizes;
    int32_t counter = 0;
    WideString source;
    WideString targetFolder;
    WideString item;
    WideString output;
};
