#pragma once
// What a process holds, measured without GetProcessHandleCount and without the
// private-usage counter (Wine reports 0 for both): open handles by asking about
// every handle value in turn, committed private memory by walking the address
// space, threads from a Toolhelp snapshot.
#include <windows.h>

#include <tlhelp32.h>

#include <cstdint>
#include <cstdio>
#include <string>

namespace tarn::test {

struct ProcessResources {
    long handles = 0;          // handle values that name an open object
    long lowestFreeSlot = 0;   // the value a new handle gets
    int64_t committedKiB = 0;  // committed private pages
    long threads = 0;
};

// Handle values are multiples of 4; the table is dense from the bottom, so the
// scan stops after a long run of free values above the last one in use.
inline long CountOpenHandles() {
    long open = 0, freeRun = 0;
    for (uintptr_t value = 4; freeRun < 1024; value += 4) {
        DWORD flags = 0;
        if (::GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) {
            ++open;
            freeRun = 0;
        } else {
            ++freeRun;
        }
    }
    return open;
}

// Where the next handle goes: a probe handle's own value, as a slot number.
inline long LowestFreeHandleSlot() {
    HANDLE probe = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!probe) return -1;
    const long slot = static_cast<long>(reinterpret_cast<uintptr_t>(probe) / 4);
    ::CloseHandle(probe);
    return slot;
}

inline int64_t CommittedPrivateKiB() {
    SYSTEM_INFO info;
    ::GetSystemInfo(&info);
    int64_t bytes = 0;
    auto* address = static_cast<BYTE*>(info.lpMinimumApplicationAddress);
    MEMORY_BASIC_INFORMATION region;
    while (address < info.lpMaximumApplicationAddress && ::VirtualQuery(address, &region, sizeof region) == sizeof region) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) bytes += static_cast<int64_t>(region.RegionSize);
        auto* next = static_cast<BYTE*>(region.BaseAddress) + region.RegionSize;
        if (next <= address) break;
        address = next;
    }
    return bytes / 1024;
}

inline long CountThreads() {
    HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return -1;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    long count = 0;
    for (BOOL more = ::Thread32First(snapshot, &entry); more; more = ::Thread32Next(snapshot, &entry))
        if (entry.th32OwnerProcessID == ::GetCurrentProcessId()) ++count;
    ::CloseHandle(snapshot);
    return count;
}

inline ProcessResources MeasureProcess() {
    ProcessResources r;
    r.threads = CountThreads();
    r.handles = CountOpenHandles();
    r.lowestFreeSlot = LowestFreeHandleSlot();
    r.committedKiB = CommittedPrivateKiB();
    return r;
}

// Threads that end asynchronously (a monitor after its object, a pool worker
// going idle) are given a moment before the figures are taken.
inline ProcessResources MeasureSettled(long threadsAtMost, DWORD patienceMs = 3000) {
    for (DWORD waited = 0; CountThreads() > threadsAtMost && waited < patienceMs; waited += 100) ::Sleep(100);
    return MeasureProcess();
}

struct ResourceGrowth {
    long handles, slot, threads;
    int64_t committedKiB;
};

inline ResourceGrowth operator-(const ProcessResources& after, const ProcessResources& before) {
    return {after.handles - before.handles, after.lowestFreeSlot - before.lowestFreeSlot,
            after.threads - before.threads, after.committedKiB - before.committedKiB};
}

inline std::string Describe(const ResourceGrowth& g) {
    char text[160];
    std::snprintf(text, sizeof text, "handles %+ld (lowest free slot %+ld), committed %+lld KiB, threads %+ld",
                  g.handles, g.slot, static_cast<long long>(g.committedKiB), g.threads);
    return text;
}

}  // namespace tarn::test
