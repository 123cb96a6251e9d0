#pragma once
// The fuzzer's only source of chance: a small generator fully determined by
// its seed, so that every call can be made again from (seed, call number).
#include <cstddef>
#include <cstdint>

namespace tarn::fuzz {

class Rng {
public:
    explicit Rng(uint64_t seed) noexcept : state_(seed) {}
    // Call `index` of a run started with `seed`, independent of the calls before it.
    static Rng ForCall(uint64_t seed, uint64_t index) noexcept {
        Rng mixer(seed ^ (index * 0xD1B54A32D192ED03ull));
        return Rng(mixer.Next());
    }

    uint64_t Next() noexcept {  // splitmix64
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    uint32_t Below(uint32_t n) noexcept { return n ? static_cast<uint32_t>(Next() % n) : 0; }
    bool OneIn(uint32_t n) noexcept { return Below(n) == 0; }
    template <class T, size_t N>
    const T& Pick(const T (&items)[N]) noexcept {
        return items[Below(N)];
    }

private:
    uint64_t state_;
};

}  // namespace tarn::fuzz
