' UsbDriver demo: open the USB device LUMO0, write a vendor register and read
' it back, take and release a lock, and loop bytes through the main endpoint.
Option Explicit

Const etndevLumo = 0
Const etnltRecording = 3

Dim usb, bytes, value, key, sent, received
Set usb = CreateObject("TarnDriver.UsbDriver")
Set bytes = CreateObject("TarnKit.Bytes")   ' byte arrays for scripts

If CInt(usb.Open(etndevLumo, 0)) <> 1 Then
    WScript.Echo "USB: \\.\LUMO0 did not open"
    WScript.Quit 1
End If
WScript.Echo "USB: opened \\.\LUMO0 (requests serialised by mutex LumoUsbIF__Mutex_LUMO0)"

usb.VendorRequestWrite &H21, 0, 0, bytes.FromHex("12345678")
value = usb.VendorRequestRead(&H21, 0, 0, 4)
WScript.Echo "  vendor register 0x21: wrote 12345678, read back " & bytes.ToHex(value)

key = usb.LockDevice(etnltRecording)
WScript.Echo "  lock 'recording' granted with key " & key & "; held: " & usb.Lock(etnltRecording)
usb.UnlockDevice etnltRecording, key
WScript.Echo "  lock 'recording' released; held: " & usb.Lock(etnltRecording)

sent = bytes.FromText("Hello, endpoint")
received = bytes.FromHex("000000000000000000000000000000")
usb.WriteMainEndpoint bytes.Length(sent), sent
usb.ReadMainEndpoint bytes.Length(sent), received
WScript.Echo "  main endpoint loop: sent """ & bytes.ToText(sent) & """, received """ & bytes.ToText(received) & """"

usb.Close
WScript.Echo "USB: closed"
