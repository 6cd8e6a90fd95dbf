#pragma once

#include <atomic>
#include <cstdint>

#include "engine/IconJobFlags.h"
#include "sys/Result.h"
#include "sys/WideString.h"

// One batch: filled by the caller before it starts and the only state shared with a batch worker thread.
// While a batch runs, only cancel is written by the caller (to stop every worker before its next item); counter and
// the progress counts are counted up by the batch's workers and may be read at any time.
struct BatchJob {
    // The application object that started the job; a job without owner does nothing.
    const void* owner = nullptr;
    std::atomic<bool> cancel{false};
    IconJobFlags flags = 0;
    SizeList sizes;
    std::atomic<int32_t> counter{0};
    // Progress for a caller on another thread: items the batch will take (0 until known), items finished
    // (written, failed or skipped), files written, and items skipped because they have nothing to write (windows
    // without an icon), which are no failures.
    std::atomic<int32_t> total{0};
    std::atomic<int32_t> done{0};
    std::atomic<int32_t> written{0};
    std::atomic<int32_t> skipped{0};
    // Why the first failed item wrote no file; kNone while none failed.
    std::atomic<Failure> firstFailure{Failure::kNone};
    WideString source;
    WideString targetFolder;
    WideString item;
    WideString output;
};
