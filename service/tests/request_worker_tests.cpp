#include "request_worker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

namespace countermate {
namespace {

std::thread::id run_and_wait(RequestWorker& worker, std::function<void()> extra = nullptr) {
    std::promise<std::thread::id> ran;
    std::string error;
    EXPECT_TRUE(worker.submit(
        [&ran, extra] {
            if (extra) extra();
            ran.set_value(std::this_thread::get_id());
        },
        error));
    return ran.get_future().get();
}

// Requests are served by one thread that waits between them, not by a thread made for each.
TEST(RequestWorker, OneThreadServesEveryRequestAndStartsAgainAfterAStop) {
    RequestWorker worker;
    const std::thread::id first = run_and_wait(worker);
    EXPECT_NE(first, std::this_thread::get_id());
    EXPECT_EQ(run_and_wait(worker), first);
    EXPECT_EQ(run_and_wait(worker), first);

    worker.stop();
    worker.stop();  // a second stop finds nothing to end
    std::atomic<bool> ran_after_stop{false};
    run_and_wait(worker, [&] { ran_after_stop = true; });
    EXPECT_TRUE(ran_after_stop);
}

// A stop lets the request in hand finish: a service that stops never abandons a running request
// with its memory gone.
TEST(RequestWorker, StopWaitsForTheRequestInHand) {
    RequestWorker worker;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::promise<void> started;
    std::atomic<bool> finished{false};
    std::string error;
    ASSERT_TRUE(worker.submit(
        [&] {
            started.set_value();
            released.wait();
            finished = true;
        },
        error));
    started.get_future().wait();
    std::atomic<bool> finished_when_stopped{false};
    std::thread stopper([&] {
        worker.stop();
        finished_when_stopped = finished.load();
    });
    release.set_value();
    stopper.join();
    EXPECT_TRUE(finished_when_stopped);
}

}  // namespace
}  // namespace countermate
