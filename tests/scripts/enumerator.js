// The classes and the enumerator as a JScript client sees them.  JScript hands
// arguments by value only, so the port list (an in-out array) is out of its
// reach: the call is refused as a type mismatch before it runs.
var passed = 0, failed = 0;
function check(condition, what) {
    if (condition) { passed++; } else { failed++; WScript.Echo("FAILED: " + what); }
}

var progIds = ["TarnDriver.Rs232Driver", "TarnDriver.UsbDriver", "TarnDriver.Rs232DigitalIoDriver",
               "TarnDriver.DriverEnumerator"];
for (var i = 0; i < progIds.length; i++) {
    var created = null;
    try { created = new ActiveXObject(progIds[i]); } catch (e) { WScript.Echo(e.message); }
    check(created !== null, "new ActiveXObject " + progIds[i]);
}

var enumerator = new ActiveXObject("TarnDriver.DriverEnumerator");
var refused = false;
try {
    enumerator.EnumeratePorts("serial", null);
} catch (e) {
    refused = true;
    check((e.number >>> 0) == 0x80020005, "type mismatch, got " + (e.number >>> 0).toString(16));
}
check(refused, "a by-value list is refused");

WScript.Echo(passed + " passed, " + failed + " failed");
