#include "sys/BlockReuse.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

namespace {

constexpr size_t kMiB = size_t(1) << 20;

// A block allocated and freed the way the decoders' planes are.
const void* AllocateAndFree(size_t bytes) {
    std::unique_ptr<uint8_t[]> block(new uint8_t[bytes]);
    return block.get();
}

class BlockReuseTest : public testing::Test {
protected:
    void SetUp() override { ReleaseKeptBlocks(); }
    void TearDown() override { ReleaseKeptBlocks(); }
};

TEST_F(BlockReuseTest, AFreedLargeBlockServesTheNextRequestOfAboutItsSize) {
    struct Case {
        const char* name;
        size_t freed;
        size_t requested;  // 0: only whether the freed block is kept
        bool kept;
        bool reused;
    };
    const Case cases[] = {
        {"same size", 4 * kMiB, 4 * kMiB, true, true},
        {"a little smaller", 4 * kMiB, 3 * kMiB + kMiB / 2, true, true},
        {"much smaller: the block would be wasted", 4 * kMiB, kMiB, true, false},
        {"larger", kMiB, 2 * kMiB, true, false},
        {"small blocks are the heap's own", 64 * 1024, 0, false, false},
        {"beyond the largest kept", 32 * kMiB, 0, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ReleaseKeptBlocks();
        const void* freed = AllocateAndFree(c.freed);
        EXPECT_EQ(KeptBlockBytes() >= c.freed, c.kept);
        if (c.requested == 0) continue;
        std::unique_ptr<uint8_t[]> next(new uint8_t[c.requested]);
        EXPECT_EQ(next.get() == freed, c.reused);
    }
}

TEST_F(BlockReuseTest, KeptBlocksStayWithinTheirBoundAndAreGivenBackOnRequest) {
    std::vector<std::unique_ptr<uint8_t[]>> blocks;
    for (int i = 0; i < 12; ++i)
        blocks.emplace_back(new uint8_t[4 * kMiB]);
    blocks.clear();
    EXPECT_GT(KeptBlockBytes(), 0u);
    EXPECT_LE(KeptBlockBytes(), 24 * kMiB);
    ReleaseKeptBlocks();
    EXPECT_EQ(KeptBlockBytes(), 0u);
}

struct Worker {
    uint8_t mark;
    bool intact = true;
};

DWORD WINAPI TakeAndGiveBack(LPVOID parameter) {
    auto* worker = static_cast<Worker*>(parameter);
    for (int round = 0; round < 300; ++round) {
        const size_t bytes = (256 << 10) + static_cast<size_t>((round * 7919) % 64) * 16384;
        std::unique_ptr<uint8_t[]> block(new uint8_t[bytes]);
        for (size_t i = 0; i < bytes; i += 4096)
            block[i] = worker->mark;
        Sleep(0);
        for (size_t i = 0; i < bytes; i += 4096)
            if (block[i] != worker->mark) worker->intact = false;
    }
    return 0;
}

// Two threads taking and giving back blocks of sizes that fit one another's: each block holds what its owner wrote
// until the owner frees it.
TEST_F(BlockReuseTest, BlocksPassBetweenThreadsWithoutSharingOne) {
    Worker workers[2] = {{0x5A}, {0xA5}};
    HANDLE threads[2];
    for (int i = 0; i < 2; ++i) {
        threads[i] = CreateThread(nullptr, 0, TakeAndGiveBack, &workers[i], 0, nullptr);
        ASSERT_NE(threads[i], nullptr);
    }
    WaitForMultipleObjects(2, threads, TRUE, INFINITE);
    for (int i = 0; i < 2; ++i) {
        CloseHandle(threads[i]);
        EXPECT_TRUE(workers[i].intact) << "worker " << i;
    }
    EXPECT_LE(KeptBlockBytes(), 24 * kMiB);
}

}  // namespace
