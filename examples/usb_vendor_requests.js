// UsbDriver from JScript: vendor requests with and without their optional
// arguments, and a device lock taken and released.
//   ./tarn script examples/usb_vendor_requests.js
var usb = new ActiveXObject("TarnDriver.UsbDriver");
var bytes = new ActiveXObject("TarnKit.Bytes");

if (usb.Open(0 /* etndevLumo */, 1) != 1) {
    WScript.Echo("\\\\.\\LUMO1 did not open");
    WScript.Quit(1);
}
usb.VendorRequestWrite(0x10, 1, 2, bytes.FromHex("A1B2C3"));  // request, parameters, data
usb.VendorRequestWrite(0x11);                                   // parameters 0, no data
WScript.Echo("register 0x10: " + bytes.ToHex(usb.VendorRequestRead(0x10, 0, 0, 3)));
WScript.Echo("register 0x11: " + bytes.ToHex(usb.VendorRequestRead(0x11, 0, 0, 3)));

var key = usb.LockDevice(4 /* etnltPlayback */);
WScript.Echo("playback lock key " + key + ", held " + usb.Lock(4));
usb.UnlockDevice(4, key);
WScript.Echo("released, held " + usb.Lock(4));
try {
    usb.UnlockDevice(4, 0);
} catch (e) {
    WScript.Echo("unlocking with key 0 fails: 0x" + (e.number >>> 0).toString(16));
}
usb.Close();
