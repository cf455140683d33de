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

void RunWorkOffUiThread(const std::function<void()>& work);

// Runs `work` on a worker thread and returns its result when it has ended;
// called off the window thread (or without an application), it simply runs
// `work`. `work` must not touch widgets or show message boxes. An exception
// thrown by `work` is thrown again here.
template <class F>
auto RunOffUiThread(F&& work) -> std::invoke_result_t<F&> {
    using R = std::invoke_result_t<F&>;
    if constexpr (std::is_void_v<R>) {
        RunWorkOffUiThread(std::function<void()>(std::forward<F>(work)));
    } else {
        std::optional<R> result;
        RunWorkOffUiThread([&] { result.emplace(work()); });
        return std::move(*result);
    }
}

}  // namespace browser
