// TarnKit.EventBridge from JScript: events fired from another thread of the
// multithreaded apartment reach a JScript object's methods while the script
// waits.  Needs TarnKitTestSource.dll registered.  Ends with "N passed, M failed".
function checkError(name, number, call) {
    checkFailure(name, call, function (e) { return (e.number >>> 0) == number && e.description.length > 0; });
}

var E_INVALIDARG = 0x80070057, TIMEOUT_MS = 10000;
var source = new ActiveXObject("TarnKitTestSource.TestSource");
var bridge = new ActiveXObject("TarnKit.EventBridge");
var log = [];
var handler = {
    OnText: function (text) { log.push("text " + text); },
    OnPair: function (text, number) { log.push("pair " + text + "=" + number); }
};

check("Connect", function () { bridge.Connect(source, handler); return source.ConnectionCount == 1; });

source.FireLater("OnText", "hello", 0, 0);
source.FireLater("OnPair", "amps", -3, 20);
check("two events arrive", function () { return bridge.WaitForEvents(2, TIMEOUT_MS); });
check("OnText and OnPair reached the handler with their arguments", function () {
    return log.join("|") == "text hello|pair amps=-3";
});
check("fired from an MTA thread", function () { return source.FiredFromMta; });

source.FireLater("OnNumber", "", 5, 0);
check("an event without a handler method arrives", function () { return bridge.WaitForEvents(3, TIMEOUT_MS); });
check("and is skipped", function () { return log.length == 2; });

handler.OnNumber = function (number) { log.push("number " + number); };
source.FireLater("OnNumber", "", 6, 0);
check("a method added later is found", function () {
    return bridge.WaitForEvents(4, TIMEOUT_MS) && log[2] == "number 6";
});

check("Disconnect", function () { bridge.Disconnect(); return source.ConnectionCount == 0; });
source.FireLater("OnText", "after", 0, 0);
bridge.Wait(300);
check("nothing after Disconnect", function () { return log.length == 3 && bridge.EventCount == 4; });

checkError("a source without events is refused", E_INVALIDARG, function () {
    bridge.Connect(new ActiveXObject("TarnKit.Bytes"), handler);
});
check("null handler is refused", function () {
    try { bridge.Connect(source, null); } catch (e) { return source.ConnectionCount == 0; }
    return false;
});
checkError("negative wait is refused", E_INVALIDARG, function () { bridge.Wait(-5); });

summary();
