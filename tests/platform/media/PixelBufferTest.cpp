#include "platform/media/PixelBuffer.h"

#include <gtest/gtest.h>

#include <thread>

namespace fw::media {
namespace {

TEST(PixelBuffer, PlaneLayoutPerFormat) {
    auto bgra = PixelBuffer::create(3, 2, PixelFormat::bgra8);
    ASSERT_TRUE(bgra);
    EXPECT_EQ(bgra->planeCount(), 1);
    EXPECT_GE(bgra->stride(), 12u);
    EXPECT_EQ(bgra->stride() % 64, 0u);

    auto x420 = PixelBuffer::create(5, 3, PixelFormat::x420);
    ASSERT_TRUE(x420);
    EXPECT_EQ(x420->planeCount(), 2);
    EXPECT_EQ(x420->planeWidth(1), 3);
    EXPECT_EQ(x420->planeHeight(1), 2);
    // Writing the last byte of every plane must stay inside the allocation (ASan checks).
    x420->row(2, 0)[x420->stride(0) - 1] = 1;
    x420->row(1, 1)[x420->stride(1) - 1] = 1;

    EXPECT_FALSE(PixelBuffer::create(0, 10, PixelFormat::bgra8));
    EXPECT_FALSE(PixelBuffer::create(10, -1, PixelFormat::bgra8));
    EXPECT_FALSE(PixelBuffer::create(40000, 10, PixelFormat::bgra8));
}

TEST(PixelBufferPool, RecyclesAndOutlivesNothing) {
    auto pool = PixelBufferPool::create(16, 16, PixelFormat::bgra8);
    ASSERT_TRUE(pool);
    const std::uint8_t* first;
    {
        auto a = pool->get();
        ASSERT_TRUE(a);
        first = a->data();
        a->setKnownOpaque(true);
    }
    auto b = pool->get();
    EXPECT_EQ(b->data(), first);  // came back from the pool
    EXPECT_FALSE(b->knownOpaque()) << "a reused buffer says nothing of the pixels it will hold";
    auto c = pool->get();
    EXPECT_NE(c->data(), b->data());
    pool.reset();  // buffers outlive their pool safely
    b->clear();
}

TEST(PixelBufferPool, ConcurrentUse) {
    auto pool = PixelBufferPool::create(64, 64, PixelFormat::x420, 4);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 200; ++i) {
                auto buffer = pool->get();
                ASSERT_TRUE(buffer);
                buffer->row(0)[0] = static_cast<std::uint8_t>(i);
            }
        });
    for (auto& t : threads) t.join();
}

}  // namespace
}  // namespace fw::media
