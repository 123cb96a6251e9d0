// Byte arrays from JScript with TarnKit.Bytes.
//
//   ./tarn script examples/bytes.js
//
// JScript has no byte arrays of its own; TarnKit.Bytes builds them from hex or
// text and reads them back, for Rs232Driver.Write, Read and the USB transfers.
// Hold such an array in a variable and hand it on; do not use typeof on it.
var bytes = new ActiveXObject("TarnKit.Bytes");

// Build: from hex digits (blanks between bytes are allowed) or from text.
var command = bytes.FromHex("02 10 FF 03");
var reply = bytes.FromText("OK\r");
WScript.Echo("command: " + bytes.ToHex(command) + " (" + bytes.Length(command) + " bytes)");
WScript.Echo("reply:   " + bytes.ToHex(reply) + " = " + quoted(bytes.ToText(reply)));

// Read single bytes, counting from 0.
for (var i = 0, values = []; i < bytes.Length(command); i++) values.push(bytes.ByteAt(command, i));
WScript.Echo("command bytes: " + values.join(", "));

// Test data: repeat a pattern and join arrays.
var frame = bytes.Concat(command, bytes.Repeat(bytes.FromHex("55 AA"), 4));
WScript.Echo("frame:   " + bytes.ToHex(frame));

// Bad input throws, with a description.
try {
    bytes.FromHex("0x12");
} catch (e) {
    WScript.Echo("FromHex(\"0x12\") fails: " + e.description);
}

function quoted(text) {
    return "\"" + text.replace(/\r/g, "\\r").replace(/\n/g, "\\n") + "\"";
}
