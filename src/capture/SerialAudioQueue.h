#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace parlo {

// The recorder's audio queue: one worker thread running posted jobs one at a time, in order. Being
// serial, it is the only lock the tracks, converters, origin and levels need: whatever touches them
// runs here. The destructor runs the jobs already posted, then joins the thread.
class SerialAudioQueue {
public:
    SerialAudioQueue();
    ~SerialAudioQueue();
    SerialAudioQueue(const SerialAudioQueue&) = delete;
    SerialAudioQueue& operator=(const SerialAudioQueue&) = delete;

    // Thread-safe; callable from any thread, including the queue's own.
    void post(std::function<void()> job);

    // Blocks until every job posted before this call has run. Not from the queue's own thread.
    void drain();

    bool isCurrent() const { return std::this_thread::get_id() == worker_.get_id(); }

private:
    void run();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> jobs_;
    bool closing_ = false;
    std::thread worker_;
};

} // namespace parlo
