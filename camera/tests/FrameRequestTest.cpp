// Requests honoured by the next frame, as the timed and automatic capture threads share them.
#include <gtest/gtest.h>

#include <future>

#include "FrameRequest.h"

namespace {

using docscope::FrameRequest;
using docscope::RequestOutcome;
using Clock = std::chrono::steady_clock;

TEST(FrameRequest, OneAnswerServesEveryWaiterAndCarriesTheImage) {
  FrameRequest request;
  const auto first = request.raise();
  const auto second = request.raise();
  EXPECT_TRUE(request.pending());
  request.complete(RequestOutcome::Done, cv::Mat(2, 3, CV_8UC3, cv::Scalar::all(7)));
  EXPECT_FALSE(request.pending());
  cv::Mat image;
  EXPECT_EQ(request.await(first, Clock::now(), nullptr, &image), RequestOutcome::Done);
  EXPECT_EQ(image.size(), cv::Size(3, 2));
  EXPECT_EQ(request.await(second, Clock::now()), RequestOutcome::Done);
  request.complete(RequestOutcome::CameraFailed);  // nothing raised: no answer is recorded
  EXPECT_EQ(request.await(request.raise(), Clock::now()), RequestOutcome::TimedOut);
}

TEST(FrameRequest, AWaiterThatGivesUpLeavesTheRequestRaisedForTheOthers) {
  FrameRequest request;
  std::atomic<bool> stop{false};
  const auto staying = request.raise();
  auto leaving = std::async(std::launch::async, [&] {
    return request.await(request.raise(), Clock::time_point::max(), &stop);
  });
  stop = true;
  request.wake();
  EXPECT_EQ(leaving.get(), RequestOutcome::Stopped);
  EXPECT_TRUE(request.pending()) << "still wanted by the waiter that stays";
  request.complete(RequestOutcome::NotWritten);
  EXPECT_EQ(request.await(staying, Clock::now()), RequestOutcome::NotWritten);
}

TEST(FrameRequest, ADeadlineDoesNotCutShortAFrameThatIsWritingTheAnswer) {
  FrameRequest request;
  const auto ticket = request.raise();
  std::promise<void> started, release;
  auto frame = std::async(std::launch::async, [&] {
    request.honour([&] {
      started.set_value();
      release.get_future().wait();
      return RequestOutcome::Done;
    });
  });
  started.get_future().wait();
  auto waiting =
      std::async(std::launch::async, [&] { return request.await(ticket, Clock::now()); });
  EXPECT_EQ(waiting.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout)
      << "the waiter past its deadline waits for the file being written";
  release.set_value();
  EXPECT_EQ(waiting.get(), RequestOutcome::Done);
  frame.get();
}

}  // namespace
