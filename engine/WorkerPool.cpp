#include "engine/WorkerPool.h"

#include <objbase.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <vector>

#include "sys/Handles.h"

namespace {

struct PoolState {
    const std::function<void(int)>* task = nullptr;
    std::atomic<int> next{0};
    int count = 0;
};

void TakeTasks(PoolState& state) {
    for (int i = state.next++; i < state.count; i = state.next++) {
        try {
            (*state.task)(i);
        } catch (...) {
        }
    }
}

DWORD WINAPI WorkerEntry(LPVOID parameter) {
    try {
        // The shell's folder objects and the imaging codecs want COM on the thread that calls them.
        const bool com = SUCCEEDED(CoInitialize(nullptr));
        TakeTasks(*static_cast<PoolState*>(parameter));
        if (com) CoUninitialize();
    } catch (...) {
    }
    return 0;
}

}  // namespace

int ProcessorCount() {
    DWORD_PTR process = 0, system = 0;
    int count = 0;
    if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system)) {
        for (; process; process &= process - 1)
            ++count;
    }
    if (count <= 0) {
        SYSTEM_INFO info{};
        GetSystemInfo(&info);
        count = static_cast<int>(info.dwNumberOfProcessors);
    }
    return std::max(count, 1);
}

void RunOnWorkers(int count, int workers, const std::function<void(int)>& task) {
    if (count <= 0) return;
    if (workers <= 0) workers = ProcessorCount();
    workers = std::min(workers, count);
    PoolState state;
    state.task = &task;
    state.count = count;
    std::vector<KernelHandle> threads;
    for (int i = 1; i < workers; ++i) {
        // A thread that can't be made leaves its share to the others.
        KernelHandle thread(CreateThread(nullptr, 0, WorkerEntry, &state, 0, nullptr));
        if (!thread) break;
        threads.push_back(std::move(thread));
    }
    TakeTasks(state);
    for (const auto& thread : threads)
        WaitForSingleObject(thread.Get(), INFINITE);
}
