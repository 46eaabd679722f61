#include "platform/latest_request_worker.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace platform {
namespace {

// Answers by noting the request; the first answer waits until the test opens
// the gate, so that requests can be posted while the worker is busy.
class GatedAnswers {
 public:
  void Answer(int request) {
    std::unique_lock lock(mutex_);
    answered_.push_back(request);
    changed_.notify_all();
    changed_.wait(lock, [this] { return open_; });
    ++finished_;
  }
  void WaitForAnswers(std::size_t n) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return answered_.size() >= n; });
  }
  void Open() {
    const std::lock_guard lock(mutex_);
    open_ = true;
    changed_.notify_all();
  }
  std::vector<int> Answered() {
    const std::lock_guard lock(mutex_);
    return answered_;
  }
  int Finished() {
    const std::lock_guard lock(mutex_);
    return finished_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<int> answered_;
  bool open_ = false;
  int finished_ = 0;
};

TEST(LatestRequestWorker, AnswersTheNewestRequestOnItsOwnThread) {
  GatedAnswers answers;
  std::thread::id answered_on;
  LatestRequestWorker<int> worker([&](int r) {
    answered_on = std::this_thread::get_id();
    answers.Answer(r);
  });
  worker.Post(1);
  answers.WaitForAnswers(1);
  // While the first is answered, three more come: only the newest is answered.
  worker.Post(2);
  worker.Post(3);
  worker.Post(4);
  answers.Open();
  answers.WaitForAnswers(2);
  worker.Stop();
  EXPECT_EQ(answers.Answered(), (std::vector<int>{1, 4}));
  EXPECT_NE(answered_on, std::this_thread::get_id());
}

TEST(LatestRequestWorker, StopWhileBusyFinishesTheAnswerAndNothingIsAnsweredAfter) {
  GatedAnswers answers;
  LatestRequestWorker<int> worker([&](int r) { answers.Answer(r); });
  worker.Post(1);
  answers.WaitForAnswers(1);
  worker.Post(2);  // waits behind the answer under way
  std::thread stopper([&] { worker.Stop(); });
  while (!worker.Stopped()) std::this_thread::yield();
  worker.Post(3);  // after Stop has begun: ignored
  answers.Open();
  stopper.join();
  EXPECT_EQ(answers.Finished(), 1);  // Stop returned only once the answer under way had
  worker.Post(5);
  EXPECT_EQ(answers.Answered(), (std::vector<int>{1}));
  worker.Stop();  // a second stop is harmless
}

}  // namespace
}  // namespace platform
