// Small general-purpose classes of the service's core.
#pragma once

#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <utility>

namespace Zm::Core {

// Runs its action once, when it goes out of scope.
template <class Action>
class ScopeExit {
  public:
    explicit ScopeExit(Action action) : action_(std::move(action)) {}
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;
    virtual ~ScopeExit() { action_(); }

  private:
    Action action_;
};

// The one process-wide instance, created on first use and destroyed at exit.
template <class T, class Tag = T>
class Singleton {
  public:
    static T& instance() {
        static T object;
        return object;
    }
    Singleton(const Singleton&) = delete;
    Singleton& operator=(const Singleton&) = delete;

  protected:
    Singleton() = default;
    virtual ~Singleton() = default;
};

namespace Retry {
namespace Detail {

template <std::uint64_t Attempts, std::uint64_t DelaySeconds>
class DelayPolicy {
  public:
    virtual ~DelayPolicy() = default;
    // The wait before the next attempt.
    virtual std::chrono::seconds delay() = 0;
};

} // namespace Detail

// Retries a fixed number of times with the same delay before each.
template <std::uint64_t Attempts, std::uint64_t DelaySeconds>
class Linear : public Detail::DelayPolicy<Attempts, DelaySeconds> {
  public:
    std::chrono::seconds delay() override { return std::chrono::seconds(DelaySeconds); }
    // Takes one retry; false when none is left (no exception, for callers that cannot
    // take one, such as a crash handler).
    bool attempt() {
        if (remaining_ == 0) return false;
        --remaining_;
        return true;
    }
    // Takes one retry; throws "Retry timeout" when none is left.
    void next() {
        if (!attempt()) throw std::runtime_error("Retry timeout");
    }
    std::uint64_t remaining() const { return remaining_; }

  private:
    std::uint64_t remaining_ = Attempts;
};

} // namespace Retry

} // namespace Zm::Core
