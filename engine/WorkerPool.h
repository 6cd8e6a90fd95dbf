#pragma once

#include <windows.h>

#include <functional>

// Processors this process may run on (at least 1).
int ProcessorCount();

// Runs task(i) for every i in [0, count), each index once, on up to `workers` threads (0 or less: one per
// processor); the calling thread is one of them. Workers take the lowest index not yet taken, so the tasks start in
// index order. Each extra thread has COM started for the shell's objects. A task that throws ends only that task.
// Returns when every started task has ended.
void RunOnWorkers(int count, int workers, const std::function<void(int)>& task);

// Lets tasks run side by side, and a task that failed run once more alone: a failure for want of the memory the
// other workers held then gives way to the result a run on one worker gets. Tasks must leave no trace when they
// fail, so that trying again is the same as trying first.
class RetryAlone {
public:
    template <typename Task>
    bool Run(Task task) {
        {
            const Hold shared(lock_, false);
            if (task()) return true;
        }
        const Hold alone(lock_, true);
        return task();
    }

private:
    class Hold {
    public:
        Hold(SRWLOCK& lock, bool exclusive) : lock_(lock), exclusive_(exclusive) {
            exclusive ? AcquireSRWLockExclusive(&lock) : AcquireSRWLockShared(&lock);
        }
        ~Hold() { exclusive_ ? ReleaseSRWLockExclusive(&lock_) : ReleaseSRWLockShared(&lock_); }
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;

    private:
        SRWLOCK& lock_;
        bool exclusive_;
    };

    SRWLOCK lock_ = SRWLOCK_INIT;
};
