// Ring buffer: life cycle codes, full/empty behaviour, wrap-around of bulk
// reads and the newest-first readBack, checked against a plain deque model.
#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <random>
#include <vector>

#include "dsp/circular_buffer.h"

namespace {

struct Ring {
    circular_buffer_state *cb = nullptr;
    explicit Ring(uint32_t capacity) {
        EXPECT_EQ(circular_buffer_create(&cb), 0);
        EXPECT_EQ(circular_buffer_init(cb, capacity), 0);
        EXPECT_EQ(circular_buffer_clear(cb), 0);
    }
    ~Ring() {
        circular_buffer_free(cb);
        circular_buffer_destroy(&cb);
    }
    std::vector<float> all(uint32_t capacity) {
        std::vector<float> out(capacity, -99.0f);
        uint32_t n = 12345;
        EXPECT_EQ(circular_buffer_readAll(cb, out.data(), &n), 0);
        out.resize(n);
        return out;
    }
};

TEST(CircularBuffer, LifeCycleCodes) {
    EXPECT_EQ(circular_buffer_create(nullptr), -1);
    circular_buffer_state *cb = nullptr;
    ASSERT_EQ(circular_buffer_create(&cb), 0);
    ASSERT_NE(cb, nullptr);
    circular_buffer_state *taken = cb;
    EXPECT_EQ(circular_buffer_create(&taken), -1);

    // Without storage everything but create/destroy/init answers 9.
    float f = 0.0f;
    uint32_t n = 0;
    EXPECT_EQ(circular_buffer_free(cb), 9);
    EXPECT_EQ(circular_buffer_clear(cb), 9);
    EXPECT_EQ(circular_buffer_enqueue(cb, 1.0f), 9);
    EXPECT_EQ(circular_buffer_enqueueForce(cb, 1.0f), 9);
    EXPECT_EQ(circular_buffer_dequeue(cb), 9);
    EXPECT_EQ(circular_buffer_dequeue_count(cb, 0), 9);
    EXPECT_EQ(circular_buffer_dequeue_data(cb, &f), 9);
    EXPECT_EQ(circular_buffer_dequeue_data_count(cb, &f, 0), 9);
    EXPECT_EQ(circular_buffer_readFront(cb, &f, 0), 9);
    EXPECT_EQ(circular_buffer_readBack(cb, &f, 0), 9);
    EXPECT_EQ(circular_buffer_readAll(cb, &f, &n), 9);
    EXPECT_EQ(circular_buffer_size(cb), 9);

    EXPECT_EQ(circular_buffer_size(nullptr), -1);
    EXPECT_EQ(circular_buffer_enqueue(nullptr, 1.0f), -1);
    EXPECT_EQ(circular_buffer_init(nullptr, 4), -1);
    EXPECT_EQ(circular_buffer_init(cb, 0), -1);
    ASSERT_EQ(circular_buffer_init(cb, 4), 0);
    ASSERT_EQ(circular_buffer_enqueue(cb, 7.0f), 0);
    // A second init keeps the old storage and contents.
    EXPECT_EQ(circular_buffer_init(cb, 8), -1);
    EXPECT_EQ(circular_buffer_size(cb), 1);
    EXPECT_EQ(circular_buffer_dequeue_data(cb, &f), 0);
    EXPECT_EQ(f, 7.0f);

    // Freed storage answers 9 again; init may give it storage anew.
    EXPECT_EQ(circular_buffer_free(cb), 0);
    EXPECT_EQ(circular_buffer_size(cb), 9);
    EXPECT_EQ(circular_buffer_init(cb, 2), 0);
    EXPECT_EQ(circular_buffer_size(cb), 0);
    EXPECT_EQ(circular_buffer_free(cb), 0);

    EXPECT_EQ(circular_buffer_destroy(nullptr), -1);
    ASSERT_EQ(circular_buffer_destroy(&cb), 0);
    EXPECT_EQ(cb, nullptr);
    EXPECT_EQ(circular_buffer_destroy(&cb), -1);
}

TEST(CircularBuffer, FullRingDropsOrOverwrites) {
    Ring r(4);
    for (float v : {1.0f, 2.0f, 3.0f, 4.0f}) ASSERT_EQ(circular_buffer_enqueue(r.cb, v), 0);
    EXPECT_EQ(circular_buffer_size(r.cb), 4);
    EXPECT_EQ(circular_buffer_enqueue(r.cb, 5.0f), -1);
    EXPECT_EQ(r.all(4), (std::vector<float>{1, 2, 3, 4}));
    EXPECT_EQ(circular_buffer_enqueueForce(r.cb, 5.0f), 0);
    EXPECT_EQ(circular_buffer_size(r.cb), 4);
    EXPECT_EQ(r.all(4), (std::vector<float>{2, 3, 4, 5}));
    float newest = 0.0f;
    ASSERT_EQ(circular_buffer_readBack(r.cb, &newest, 1), 0);
    EXPECT_EQ(newest, 5.0f);
}

TEST(CircularBuffer, EmptyRingLeavesOutputsUntouched) {
    Ring r(3);
    float f = 42.0f;
    EXPECT_EQ(circular_buffer_dequeue_data(r.cb, &f), -1);
    EXPECT_EQ(f, 42.0f);
    EXPECT_EQ(circular_buffer_dequeue(r.cb), -1);
    float two[2] = {42.0f, 43.0f};
    ASSERT_EQ(circular_buffer_enqueue(r.cb, 1.0f), 0);
    EXPECT_EQ(circular_buffer_readFront(r.cb, two, 2), -1);
    EXPECT_EQ(circular_buffer_readBack(r.cb, two, 2), -1);
    EXPECT_EQ(circular_buffer_dequeue_data_count(r.cb, two, 2), -1);
    EXPECT_EQ(circular_buffer_dequeue_count(r.cb, 2), -1);
    EXPECT_EQ(two[0], 42.0f);
    EXPECT_EQ(two[1], 43.0f);
    EXPECT_EQ(circular_buffer_size(r.cb), 1);
    EXPECT_EQ(circular_buffer_dequeue_count(r.cb, 0), 0);
    EXPECT_EQ(circular_buffer_readBack(r.cb, nullptr, 0), 0);
    EXPECT_EQ(circular_buffer_size(r.cb), 1);
}

TEST(CircularBuffer, ReadBackAfterForcedWrap) {
    Ring r(3);
    for (float v : {1.0f, 2.0f, 3.0f, 4.0f}) ASSERT_EQ(circular_buffer_enqueueForce(r.cb, v), 0);
    float out[3] = {};
    ASSERT_EQ(circular_buffer_readBack(r.cb, out, 3), 0);
    EXPECT_EQ(out[0], 4.0f);
    EXPECT_EQ(out[1], 3.0f);
    EXPECT_EQ(out[2], 2.0f);
}

TEST(CircularBuffer, BulkReadEndingAtStorageEndRestartsAtZero) {
    Ring r(5);
    for (int i = 0; i < 5; ++i) ASSERT_EQ(circular_buffer_enqueue(r.cb, float(i)), 0);
    float out[5] = {};
    ASSERT_EQ(circular_buffer_dequeue_data_count(r.cb, out, 5), 0);
    EXPECT_EQ(circular_buffer_size(r.cb), 0);
    // Refill across the seam: the ring now starts over at slot 0, so five
    // new samples fit and come back in order through every reader.
    for (int i = 10; i < 15; ++i) ASSERT_EQ(circular_buffer_enqueue(r.cb, float(i)), 0);
    EXPECT_EQ(r.all(5), (std::vector<float>{10, 11, 12, 13, 14}));
    ASSERT_EQ(circular_buffer_dequeue_count(r.cb, 3), 0);
    ASSERT_EQ(circular_buffer_enqueue(r.cb, 15.0f), 0);
    ASSERT_EQ(circular_buffer_enqueue(r.cb, 16.0f), 0);
    ASSERT_EQ(circular_buffer_readFront(r.cb, out, 4), 0);
    EXPECT_EQ(std::vector<float>(out, out + 4), (std::vector<float>{13, 14, 15, 16}));
}

TEST(CircularBuffer, ClearEmptiesAndZeroes) {
    Ring r(4);
    for (float v : {1.0f, 2.0f, 3.0f}) ASSERT_EQ(circular_buffer_enqueue(r.cb, v), 0);
    ASSERT_EQ(circular_buffer_clear(r.cb), 0);
    EXPECT_EQ(circular_buffer_size(r.cb), 0);
    for (int i = 0; i < 4; ++i) ASSERT_EQ(circular_buffer_enqueueForce(r.cb, 9.0f), 0);
    EXPECT_EQ(r.all(4), (std::vector<float>{9, 9, 9, 9}));
}

// Random operation sequences against a deque model (seeded, replayable).
TEST(CircularBuffer, RandomOperationsMatchModel) {
    const uint32_t seed = 20261208;
    std::mt19937 rng(seed);
    const uint32_t capacity = 7;
    Ring r(capacity);
    std::deque<float> model;
    std::vector<float> buf(capacity), all(capacity);
    for (int step = 0; step < 20000; ++step) {
        SCOPED_TRACE(testing::Message() << "seed " << seed << " step " << step);
        const int op = int(rng() % 7);
        const uint32_t n = rng() % (capacity + 2);
        const float v = float(step);
        switch (op) {
            case 0: {
                const int32_t rc = circular_buffer_enqueue(r.cb, v);
                ASSERT_EQ(rc, model.size() < capacity ? 0 : -1);
                if (rc == 0) model.push_back(v);
                break;
            }
            case 1:
                ASSERT_EQ(circular_buffer_enqueueForce(r.cb, v), 0);
                if (model.size() == capacity) model.pop_front();
                model.push_back(v);
                break;
            case 2: {
                const int32_t rc = circular_buffer_dequeue_data_count(r.cb, buf.data(), n);
                ASSERT_EQ(rc, n <= model.size() ? 0 : -1);
                for (uint32_t i = 0; rc == 0 && i < n; ++i) {
                    ASSERT_EQ(buf[i], model.front());
                    model.pop_front();
                }
                break;
            }
            case 3: {
                const int32_t rc = circular_buffer_readFront(r.cb, buf.data(), n);
                ASSERT_EQ(rc, n <= model.size() ? 0 : -1);
                for (uint32_t i = 0; rc == 0 && i < n; ++i) ASSERT_EQ(buf[i], model[i]);
                break;
            }
            case 4: {
                const int32_t rc = circular_buffer_readBack(r.cb, buf.data(), n);
                ASSERT_EQ(rc, n <= model.size() ? 0 : -1);
                for (uint32_t i = 0; rc == 0 && i < n; ++i)
                    ASSERT_EQ(buf[i], model[model.size() - 1 - i]);
                break;
            }
            case 5: {
                const int32_t rc = circular_buffer_dequeue_count(r.cb, n);
                ASSERT_EQ(rc, n <= model.size() ? 0 : -1);
                if (rc == 0) model.erase(model.begin(), model.begin() + n);
                break;
            }
            default: {
                uint32_t count = 0;
                ASSERT_EQ(circular_buffer_readAll(r.cb, all.data(), &count), 0);
                ASSERT_EQ(count, model.size());
                for (uint32_t i = 0; i < count; ++i) ASSERT_EQ(all[i], model[i]);
            }
        }
        ASSERT_EQ(circular_buffer_size(r.cb), int32_t(model.size()));
    }
}

}  // namespace
