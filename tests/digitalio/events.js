// Rs232DigitalIoDriver events in JScript, through TarnKit.EventBridge: a plain
// JScript object's methods receive OnText and the line events.  Ends with
// "N passed, M failed".
var TIMEOUT_MS = 5000;
var log = [];
var handler = {
    OnText: function (text) { log.push("text " + text); },
    OnCTS: function (level) { log.push("cts " + level); },
    OnDSR: function (level) { log.push("dsr " + level); },
    OnDCD: function (level) { log.push("dcd " + level); }
};
var lines = new ActiveXObject("TarnDriver.Rs232DigitalIoDriver");
var peer = new ActiveXObject("TarnDriver.Rs232DigitalIoDriver");
var bridge = new ActiveXObject("TarnKit.EventBridge");
check("the bridge connects", function () { bridge.Connect(lines, handler); return true; });

check("the peer opens", function () { return peer.Open("\\\\.\\COM22") != 0; });
check("Open succeeds with 1", function () { return lines.Open("\\\\.\\COM21") == 1; });
check("OnText arrives", function () { return bridge.WaitForEvents(1, TIMEOUT_MS); });
check("OnText carries the greeting", function () { return log.join(",") == "text Tach auch"; });
log = [];

peer.SetRTS(1);
check("OnCTS arrives", function () { return bridge.WaitForEvents(2, TIMEOUT_MS); });
check("OnCTS carries 1", function () { return log.join(",") == "cts 1"; });
log = [];

peer.SetDTR(1);
check("two events for DTR", function () { return bridge.WaitForEvents(4, TIMEOUT_MS); });
check("OnDSR before OnDCD", function () { return log.join(",") == "dsr 1,dcd 1"; });
log = [];

peer.SetRTS(0);
check("OnCTS arrives again", function () { return bridge.WaitForEvents(5, TIMEOUT_MS); });
check("OnCTS carries 0", function () { return log.join(",") == "cts 0"; });

check("PortName is the name passed", function () { return lines.PortName == "\\\\.\\COM21"; });
check("DebounceTime refuses negatives", function () {
    try { lines.DebounceTime = -1; } catch (e) { return (e.number >>> 0) == 0x80070057 && lines.DebounceTime == 0; }
    return false;
});

lines.Close();
check("Device not open after Close", function () {
    try { lines.GetCTS(); } catch (e) { return e.description == "Device not open"; }
    return false;
});
bridge.Disconnect();
peer.Close();
summary();
