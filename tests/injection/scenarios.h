#pragma once
// The scenarios the failure-injection sweep runs: each class made, opened,
// used, closed and released, by vtable and by name, with events, every step
// judged by the ScenarioRun it reports to.
#include <windows.h>

#include <cstdio>
#include <functional>
#include <initializer_list>
#include <ostream>
#include <string>
#include <vector>

#include "common/com_test_support.h"
#include "injection/failing_calls.h"

namespace tarn::test {

// One run of a scenario: its steps report here, and the first step that goes
// wrong, or ends in a documented failure, ends the run.
class ScenarioRun {
public:
    // `right`: the step succeeded with the right result.  `documented`: it
    // ended in its documented failure and left the caller's arguments as they
    // were, which only an injected failure may cause.
    bool Step(const std::string& what, bool right, bool documented) {
        if (right) return true;
        if (documented && FailingCalls::AnyFailed()) return Stop("");
        return Stop(what + (documented ? ": failed with nothing failing under it" : ": wrong result"));
    }
    // A call's HRESULT: S_OK with `right`, or one of `codes` with `untouched`.
    bool Call(const std::string& what, HRESULT hr, bool right, bool untouched = true,
              std::initializer_list<HRESULT> codes = {E_OUTOFMEMORY}) {
        return Step(what + " (hr " + Hex(hr) + ")", hr == S_OK && right, Among(hr, codes) && untouched);
    }
    // A call made by name: the same, with a failure carried in DISP_E_EXCEPTION too.
    bool Invoke(const std::string& what, const CallResult& call, bool right, bool untouched = true,
                std::initializer_list<HRESULT> codes = {E_OUTOFMEMORY}) {
        const HRESULT carried = call.hr == DISP_E_EXCEPTION ? call.exception.scode : call.hr;
        return Step(what + " by name (hr " + Hex(call.hr) + ", scode " + Hex(carried) + ")",
                    call.hr == S_OK && right, Among(carried, codes) && untouched);
    }

    const std::string& complaint() const { return complaint_; }

    static std::string Hex(HRESULT hr) {
        char text[16];
        std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(hr));
        return text;
    }

private:
    static bool Among(HRESULT hr, std::initializer_list<HRESULT> codes) {
        for (HRESULT code : codes)
            if (hr == code) return true;
        return false;
    }
    bool Stop(std::string complaint) {
        complaint_ = std::move(complaint);
        return false;
    }
    std::string complaint_;
};


struct Scenario {
    const char* name;
    std::function<void(ScenarioRun&)> body;
};
inline void PrintTo(const Scenario& scenario, std::ostream* out) { *out << scenario.name; }

const std::vector<Scenario>& Scenarios();

}  // namespace tarn::test
