#include "app/BackgroundJob.h"

#include <atomic>

struct BackgroundJob::Work {
    std::function<DWORD()> run;
    HWND notify = nullptr;
    DWORD result = 0;
    std::atomic<bool> done{false};
};

BackgroundJob::BackgroundJob() = default;

BackgroundJob::~BackgroundJob() {
    Collect();
}

bool BackgroundJob::Start(std::function<DWORD()> work, HWND notify) {
    if (Running()) return false;
    work_ = std::make_unique<Work>();
    work_->run = std::move(work);
    work_->notify = notify;
    thread_.Reset(CreateThread(nullptr, 0, Entry, work_.get(), 0, nullptr));
    if (!thread_) work_.reset();
    return thread_.Valid();
}

bool BackgroundJob::Finished() const {
    return !work_ || work_->done.load();
}

DWORD BackgroundJob::Collect() {
    if (!thread_) return 0;
    // A window job asks this thread's windows for their icons: messages sent to them are answered meanwhile, and
    // nothing posted is taken from the queue.
    HANDLE thread = thread_.Get();
    while (MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_SENDMESSAGE) == WAIT_OBJECT_0 + 1) {
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
    thread_.Reset();
    const DWORD result = work_->result;
    work_.reset();
    return result;
}

DWORD WINAPI BackgroundJob::Entry(void* parameter) {
    auto* work = static_cast<Work*>(parameter);
    try {
        const ComScope com;
        work->result = work->run();
    } catch (...) {
        work->result = 0;
    }
    work->done = true;
    PostMessageW(work->notify, WM_NULL, 0, 0);
    return 0;
}
