#pragma once

#include <functional>

// Processors this process may run on (at least 1).
int ProcessorCount();

// Runs task(i) for every i in [0, count), each index once, on up to `workers` threads (0 or less: one per
// processor); the calling thread is one of them. Workers take the lowest index not yet taken, so the tasks start in
// index order. Each extra thread has COM started for the shell's objects. A task that throws ends only that task.
// Returns when every started task has ended.
void RunOnWorkers(int count, int workers, const std::function<void(int)>& task);
