// UsbDriver from JScript against the stand-in's LUMO1: vendor requests with
// omitted optional arguments and locks.  Ends with "N passed, M failed".
var E_FAIL = 0x80004005 | 0;

function checkError(name, number, call) {
    checkFailure(name, call, function (e) { return (e.number | 0) === number; });
}

var b = new ActiveXObject("TarnKit.Bytes");
var usb = new ActiveXObject("TarnDriver.UsbDriver");
check("Open LUMO1 gives 1", function () { return usb.Open(0, 1) == 1; });
check("VendorRequestWrite with data", function () {
    usb.VendorRequestWrite(0x50, 7, -7, b.FromHex("CAFE"));
    return true;
});
check("VendorRequestRead brings it back", function () {
    return b.ToHex(usb.VendorRequestRead(0x50, 0, 0, 2)) == "CAFE";
});
check("VendorRequestWrite with the optional arguments omitted", function () {
    usb.VendorRequestWrite(0x51);
    return b.ToHex(usb.VendorRequestRead(0x51, 0, 0, 3)) == "000000";
});
check("VendorRequestWrite with the data omitted", function () {
    usb.VendorRequestWrite(0x50, 1, 2);
    return b.Length(usb.VendorRequestRead(0x50, 0, 0, 2)) == 2 &&
           b.ToHex(usb.VendorRequestRead(0x50, 0, 0, 2)) == "0000";
});
var key = 0;
check("LockDevice hands out a key", function () { key = usb.LockDevice(3); return key != 0; });
check("Lock reads 1 while held", function () { return usb.Lock(3) == 1; });
check("UnlockDevice with the key", function () { usb.UnlockDevice(3, key); return usb.Lock(3) == 0; });
checkError("UnlockDevice with key 0", E_FAIL, function () { usb.UnlockDevice(3, 0); });
check("Close", function () { usb.Close(); return true; });
checkError("requests after Close fail", E_FAIL, function () { usb.VendorRequestWrite(1); });

summary();
