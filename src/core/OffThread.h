#pragma once

#include <QCoreApplication>
#include <QEvent>
#include <QObject>

#include <atomic>
#include <coroutine>
#include <exception>
#include <functional>
#include <optional>
#include <thread>
#include <type_traits>
#include <utility>

namespace parlo {

namespace detail {

// Resumes a coroutine on its own thread when the worker's event arrives.
class Resumer final : public QObject {
    Q_OBJECT
public:
    static constexpr QEvent::Type eventType = QEvent::User;

    Resumer(std::coroutine_handle<> awaiting, const std::atomic<bool>* done)
        : awaiting_(awaiting)
        , done_(done) {}

    bool event(QEvent* event) override {
        if (event->type() != eventType)
            return QObject::event(event);
        done_->load(std::memory_order_acquire);
        deleteLater();
        awaiting_.resume(); // may destroy the awaitable: nothing of it is used afterwards
        return true;
    }

private:
    std::coroutine_handle<> awaiting_;
    const std::atomic<bool>* done_;
};

} // namespace detail

// An awaitable that runs blocking work elsewhere (a worker queue, a fresh thread) and resumes the
// awaiting coroutine on the thread it suspended on, through that thread's Qt event loop. So a
// QCoro task on the main thread can wait for a sound-server round trip or a file mix without
// blocking the interface, and still touch its own state after the co_await. The work's exception
// is rethrown at the co_await.
// Keep the awaitable in a named variable (`auto step = onOwnThread(...); co_await step;`): GCC 12
// destroys lambda temporaries of a co_await expression too early.
template <typename T> class OffThread {
public:
    using Executor = std::function<void(std::function<void()>)>;

    OffThread(Executor executor, std::function<T()> work)
        : executor_(std::move(executor))
        , work_(std::move(work)) {}

    // The coroutine machinery may copy the awaitable before suspending; nothing has run by then.
    OffThread(const OffThread& other) : executor_(other.executor_), work_(other.work_) {}
    OffThread& operator=(const OffThread&) = delete;

    bool await_ready() const noexcept { return false; }

    void await_suspend(std::coroutine_handle<> awaiting) {
        // Created here, so it belongs to the awaiting thread: the posted event is handled there.
        auto* home = new detail::Resumer(awaiting, &done_);
        executor_([this, home] {
            try {
                if constexpr (std::is_void_v<T>)
                    work_();
                else
                    result_.emplace(work_());
            } catch (...) {
                error_ = std::current_exception();
            }
            // Qt's event queue orders this thread before the resumption, but through locks that
            // thread sanitizers cannot see; the explicit release makes the order visible. The
            // event carries nothing and is owned by Qt from here: this thread touches nothing of
            // the awaiting side afterwards.
            done_.store(true, std::memory_order_release);
            QCoreApplication::postEvent(home, new QEvent(detail::Resumer::eventType));
        });
    }

    T await_resume() {
        if (error_)
            std::rethrow_exception(error_);
        if constexpr (!std::is_void_v<T>)
            return std::move(*result_);
    }

private:
    struct Nothing {};
    Executor executor_;
    std::function<T()> work_;
    std::optional<std::conditional_t<std::is_void_v<T>, Nothing, T>> result_;
    std::exception_ptr error_;
    std::atomic<bool> done_{false};
};

// Runs `work` on a thread of its own.
template <typename F> auto onOwnThread(F work) {
    using T = std::invoke_result_t<F>;
    return OffThread<T>([](std::function<void()> job) { std::thread(std::move(job)).detach(); },
                        std::function<T()>(std::move(work)));
}

} // namespace parlo
