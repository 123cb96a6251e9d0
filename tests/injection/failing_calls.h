#pragma once
// Failure injection into TarnDriver.DLL: its imports of the calls that can run
// short (heap, strings, arrays and their elements, variants, error objects and
// the ProgIDs they name, events, mutexes, threads, registry reads) are
// redirected to wrappers that count every call, from every thread, and fail
// the Nth with the function's own out-of-resource result.  The heap wrappers
// also keep the number of the module's live blocks.
#include <windows.h>

#include <string>
#include <vector>

namespace tarn::test {

class FailingCalls {
public:
    // Redirects `module`'s imports; returns the names it found and redirected.
    static std::vector<std::string> Install(HMODULE module);
    // From now on counts calls, and fails the `failAt`th (0: fails none).
    static void Arm(long failAt);
    // Stops counting; returns how many calls were counted.
    static long Disarm();
    // The function whose call was failed since Arm, or "" when none was.
    static std::string Failed();
    static bool AnyFailed() { return !Failed().empty(); }
    // Heap blocks the module holds now.
    static long LiveBlocks();
};

}  // namespace tarn::test
