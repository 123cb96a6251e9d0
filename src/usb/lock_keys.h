#pragma once
// Keys of granted device locks: a linear congruential generator whose state
// belongs to the calling thread.  Each thread starts from the state 1, so the
// keys one thread receives follow the same sequence in every run.
#include <windows.h>

namespace tarn::usb {

// One step of the generator: the new state and the key it yields (0 to 32767).
struct KeyStep {
    unsigned long state;
    long key;
};
KeyStep NextKeyStep(unsigned long state) noexcept;

// The calling thread's next key for a granted lock.  Never 0: 0 is the key of
// a refused lock, which UnlockDevice rejects, so a 0 is drawn again.
long NextLockKey() noexcept;

}  // namespace tarn::usb
