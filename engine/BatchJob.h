#pragma once

#include <atomic>
#include <cstdint>

#include "engine/IconJobFlags.h"
#include "sys/WideString.h"

// One batch: filled by the caller before it starts and the only state shared with a batch worker thread.
// While a batch runs, only cancel is written by the caller (to stop every worker before its next item); counter is
// counted up by the batch's workers and may be read at any time.
struct BatchJob {
    // The application object that started the job; a job without owner does nothing.
    const void* owner = nullptr;
    std::atomic<bool> cancel{false};
    IconJobFlags flags = 0;
    SizeList sizes;
    std::atomic<int32_t> counter{0};
    WideString source;
    WideString targetFolder;
    WideString item;
    WideString output;
};
