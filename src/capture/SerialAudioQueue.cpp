#include "capture/SerialAudioQueue.h"

#include <future>
#include <pthread.h>

namespace parlo {

SerialAudioQueue::SerialAudioQueue() : worker_([this] { run(); }) {}

SerialAudioQueue::~SerialAudioQueue() {
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
    }
    wake_.notify_one();
    worker_.join();
}

void SerialAudioQueue::post(std::function<void()> job) {
    // Notify while holding the lock: once it is released the job may run, hand back the result,
    // and the owner may destroy the queue, so the poster must not touch it any more.
    std::lock_guard lock(mutex_);
    jobs_.push_back(std::move(job));
    wake_.notify_one();
}

void SerialAudioQueue::drain() {
    std::promise<void> done;
    auto future = done.get_future();
    post([&done] { done.set_value(); });
    future.wait();
}

void SerialAudioQueue::run() {
    pthread_setname_np(pthread_self(), "parlo-audio");
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return closing_ || !jobs_.empty(); });
            if (jobs_.empty())
                return; // closing, and everything posted has run
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        job();
    }
}

} // namespace parlo
