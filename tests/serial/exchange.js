// Rs232Driver from JScript on a wired pair of ports (arguments: the two COM
// numbers): bytes both ways through TarnKit.Bytes and the errors a script
// sees.  Ends with "N passed, M failed".
// A call that must throw this HRESULT with this message of the driver.
function checkError(name, number, message, call) {
    checkFailure(name, call, function (e) { return (e.number >>> 0) == number && e.description == message; });
}

// Wine's script host has no WScript.Sleep: a Read on a port where nothing
// comes waits its time-out (200 ms + 4 ms a byte) instead.
function pause(idlePort) {
    try { idlePort.Read(1); } catch (e) {}
}

var E_FAIL = 0x80004005, E_INVALIDARG = 0x80070057;
var nearPort = parseInt(WScript.Arguments(0), 10), farPort = parseInt(WScript.Arguments(1), 10);
var k = new ActiveXObject("TarnKit.Bytes");
var a = new ActiveXObject("TarnDriver.Rs232Driver");
var b = new ActiveXObject("TarnDriver.Rs232Driver");

check("both ends open", function () { return a.Open(nearPort) != 0 && b.Open(farPort) != 0; });
check("port names", function () { return a.PortName == "COM" + nearPort && b.PortNumber == farPort; });

check("text with a null byte arrives", function () {
    a.Write(k.FromText("AT\r\n\u0000"));
    return k.ToHex(b.Read(5)) == "41540D0A00";
});
check("a variable goes back (JScript passes by value)", function () {
    var sent = k.FromHex("FF 00 80 7F");
    b.Write(sent);
    return k.ToHex(a.Read(4)) == "FF00807F";
});
check("ReadAvailableBytes takes what came", function () {
    b.Write(k.FromText("xyz"));
    pause(b);
    return k.ToText(a.ReadAvailableBytes()) == "xyz" && k.Length(a.ReadAvailableBytes()) == 0;
});
check("Read(0) gives an empty array", function () { return k.Length(b.Read(0)) == 0; });

checkError("Read of bytes that never come", E_FAIL, "not all bytes received", function () { b.Read(4); });
checkError("Read of a negative count", E_FAIL, "variant create failed", function () { b.Read(-1); });
checkError("Write of a string", E_INVALIDARG, "variant type mismatch", function () { a.Write("0102"); });

a.Close();
check("Close resets the port number", function () { return a.PortNumber == 0 && a.PortName == "COM0"; });
checkError("Write on a closed object", E_FAIL, "WriteFile failed", function () { a.Write(k.FromHex("01")); });
checkError("Read on a closed object", E_FAIL, "ReadFile failed", function () { a.Read(1); });
b.Close();

summary();
