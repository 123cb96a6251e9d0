' UsbDriver from VBScript: bulk transfers on the main endpoint work in place on
' the byte array a variable holds; only the first Count bytes move.
'   ./tarn script examples/usb_main_endpoint.vbs
Option Explicit
Dim usb, bytes, sent, buffer
Set usb = CreateObject("TarnDriver.UsbDriver")
Set bytes = CreateObject("TarnKit.Bytes")
If CInt(usb.Open(0, 1)) <> 1 Then
    WScript.Echo "\\.\LUMO1 did not open"
    WScript.Quit 1
End If

sent = bytes.FromHex("0102030405060708")
usb.WriteMainEndpoint 8, sent          ' all eight bytes out
buffer = bytes.FromHex("0000000000000000")
usb.ReadMainEndpoint 8, buffer         ' back into the variable's array
WScript.Echo "read " & bytes.ToHex(buffer)

usb.WriteMainEndpoint 3, sent          ' only the first three
buffer = bytes.FromHex("EEEEEEEE")
usb.ReadMainEndpoint 3, buffer
WScript.Echo "read 3 into 4: " & bytes.ToHex(buffer)
usb.Close
