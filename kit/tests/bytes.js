// TarnKit.Bytes from JScript: build, read and compare byte arrays, and the
// errors a script sees for bad input.  Ends with "N passed, M failed".
// A call that must throw the given HRESULT with a description.
function checkError(name, number, call) {
    checkFailure(name, call, function (e) { return (e.number >>> 0) == number && e.description.length > 0; });
}

var E_INVALIDARG = 0x80070057, DISP_E_TYPEMISMATCH = 0x80020005;
var b = new ActiveXObject("TarnKit.Bytes");
var a = b.FromHex("01 02 0a FF");

check("ToHex", function () { return b.ToHex(a) == "01020AFF"; });
check("Length", function () { return b.Length(a) == 4; });
check("ByteAt", function () { return b.ByteAt(a, 2) == 10 && b.ByteAt(a, 3) == 255; });
check("FromText keeps low 8 bits", function () { return b.ToHex(b.FromText("Ok\u0141\u00ff")) == "4F6B41FF"; });
check("ToText round trip", function () { return b.ToText(b.FromText("AT\r\n")) == "AT\r\n"; });
check("empty array", function () { return b.Length(b.FromHex("")) == 0 && b.ToText(b.FromHex("")) == ""; });
check("Repeat", function () { return b.ToHex(b.Repeat(b.FromHex("A5"), 4)) == "A5A5A5A5"; });
check("Concat", function () { return b.ToHex(b.Concat(a, b.FromHex("EE"))) == "01020AFFEE"; });
check("versioned ProgID", function () { return new ActiveXObject("TarnKit.Bytes.1").Length(a) == 4; });

checkError("odd number of hex digits", E_INVALIDARG, function () { b.FromHex("123"); });
checkError("bad hex digit", E_INVALIDARG, function () { b.FromHex("0x12"); });
checkError("a string is not a byte array", DISP_E_TYPEMISMATCH, function () { b.ToHex("0102"); });
checkError("a number is not a byte array", DISP_E_TYPEMISMATCH, function () { b.Length(5); });
checkError("ByteAt before the start", E_INVALIDARG, function () { b.ByteAt(a, -1); });

summary();
