// Sending and receiving bytes with Rs232Driver from JScript.
//
//   ./tarn script examples/serial_exchange.js [PORT PEER]     (default COM21 and COM22)
//
// JScript passes every argument by value, so variables holding byte arrays go
// straight to Write.  TarnKit.Bytes makes and reads the byte arrays.
var port = 21, peer = 22;
if (WScript.Arguments.length == 2) {
    port = parseInt(WScript.Arguments(0), 10);
    peer = parseInt(WScript.Arguments(1), 10);
}

var bytes = new ActiveXObject("TarnKit.Bytes");
var device = new ActiveXObject("TarnDriver.Rs232Driver");
var instrument = new ActiveXObject("TarnDriver.Rs232Driver");
if (!device.Open(port) || !instrument.Open(peer)) {
    WScript.Echo("cannot open COM" + port + " or COM" + peer);
    WScript.Quit(1);
}
WScript.Echo(device.PortName + " <-> " + instrument.PortName + " at " + device.BaudRate + " baud");

var frame = bytes.FromHex("02 31 32 00 FF 03");   // null bytes and 0xFF pass unchanged
device.Write(frame);
var got = instrument.Read(bytes.Length(frame));
WScript.Echo("instrument got: " + bytes.ToHex(got));

instrument.Write(bytes.FromText("OK\r\n"));
WScript.Echo("device got: " + bytes.ToHex(device.Read(4)));
WScript.Echo("nothing left: " + bytes.Length(device.ReadAvailableBytes()) + " bytes");

try {
    device.Read(3);   // nothing comes: fails after 212 ms
} catch (e) {
    WScript.Echo("Read(3): " + e.description + " (0x" + (e.number >>> 0).toString(16) + ")");
}
device.Close();
instrument.Close();
