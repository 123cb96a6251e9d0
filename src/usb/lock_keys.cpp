#include "usb/lock_keys.h"

namespace tarn::usb {
namespace {

constexpr unsigned long kSeed = 1;
constexpr unsigned long kMultiplier = 214013;
constexpr unsigned long kIncrement = 2531011;

// The generator's state is the calling thread's own; a new thread starts at the seed.
thread_local unsigned long threadState = kSeed;

}  // namespace

KeyStep NextKeyStep(unsigned long state) noexcept {
    const unsigned long next = static_cast<unsigned long>(
        (static_cast<unsigned long long>(state) * kMultiplier + kIncrement) & 0xFFFFFFFFull);
    return {next, static_cast<long>((next >> 16) & 0x7FFF)};
}

long NextLockKey() noexcept {
    for (;;) {
        const KeyStep step = NextKeyStep(threadState);
        threadState = step.state;
        if (step.key != 0) return step.key;
    }
}

}  // namespace tarn::usb
