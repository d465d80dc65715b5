#pragma once
// A call on a thread of its own, waited for at most a bound, so that a call
// that never returns fails its test instead of hanging it. Pure: no
// windows.h, for the unit tests too.

#include <chrono>
#include <future>
#include <memory>
#include <optional>
#include <thread>
#include <utility>

// Runs `call` on a new thread and waits at most `bound` for it. Returns its
// result, or nothing when it still runs; that thread is then left to run
// (detached) and must touch nothing the caller frees. A thread that has
// finished is joined, never detached: under Wine, detaching a MinGW thread
// that has already ended can lose the next thread the process starts.
template <typename Call>
auto callWithin(std::chrono::seconds bound, Call call) -> std::optional<decltype(call())> {
  using Result = decltype(call());
  auto promise = std::make_shared<std::promise<Result>>();
  std::future<Result> result = promise->get_future();
  std::thread worker([promise, call = std::move(call)]() mutable { promise->set_value(call()); });
  if (result.wait_for(bound) != std::future_status::ready) {
    worker.detach();
    return std::nullopt;
  }
  worker.join();
  return result.get();
}
