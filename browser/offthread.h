#pragma once
// Long transfers run on a worker thread while the window thread waits in an
// event loop: the window repaints and answers assistive technology, but
// takes no user input, so a command stays modal as if it ran on the window
// thread (its wait cursor and caption stay, no other command starts, user
// input is held until it ends).
#include <exception>
#include <functional>
#include <optional>
#include <type_traits>

namespace browser {

void RunWorkOffUiThread(const std::function<void()>& work, const std::function<void()>& meanwhile = {});

// Runs `work` on a worker thread and returns its result when it has ended;
// called off the window thread (or without an application), it simply runs
// `work`. `work` must not touch widgets or show message boxes. An exception
// thrown by `work` is thrown again here. `meanwhile`, if given, runs on the
// window thread once the worker has started (window work that can overlap
// the transfer); it runs even when no worker can be started.
template <class F>
auto RunOffUiThread(F&& work, const std::function<void()>& meanwhile = {}) -> std::invoke_result_t<F&> {
    using R = std::invoke_result_t<F&>;
    if constexpr (std::is_void_v<R>) {
        RunWorkOffUiThread(std::function<void()>(std::forward<F>(work)), meanwhile);
    } else {
        std::optional<R> result;
        RunWorkOffUiThread([&] { result.emplace(work()); }, meanwhile);
        return std::move(*result);
    }
}

}  // namespace browser
