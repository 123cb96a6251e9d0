// The checks every JScript test uses; tools/run-script puts this in front of
// the test.  Wine's script host swallows script errors and exits 0, so a test
// counts its checks and is judged by its last line, "N passed, M failed".
var passed = 0, failed = 0;

function hresult(e) { return (e.number >>> 0).toString(16); }

// `test` returns true when the check holds; an error it throws fails the check.
function check(name, test) {
    try {
        if (test()) { passed++; return; }
        WScript.Echo("FAIL " + name);
    } catch (e) {
        WScript.Echo("FAIL " + name + ": error " + hresult(e) + " " + e.description);
    }
    failed++;
}

// `call` must throw an error that `expected(e)` accepts.
function checkFailure(name, call, expected) {
    try {
        call();
        WScript.Echo("FAIL " + name + ": no error");
    } catch (e) {
        if (expected(e)) { passed++; return; }
        WScript.Echo("FAIL " + name + ": error " + hresult(e) + " " + e.description);
    }
    failed++;
}

function summary() { WScript.Echo(passed + " passed, " + failed + " failed"); }

