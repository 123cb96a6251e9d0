' UsbDriver from VBScript against the stand-in's LUMO1: vendor requests with
' omitted optional arguments, locks, and the main endpoint moving bytes in
' place through variables that hold byte arrays.  Ends with "N passed, M failed".
Sub CheckError(name, number)
    CheckFailure name, Err.Number = number
End Sub

Const E_FAIL = &H80004005
Const etndevLumo = 0
Const etnltPlayback = 4

Dim ok, usb, b, value, key, sent, received, part
Set b = CreateObject("TarnKit.Bytes")
Set usb = CreateObject("TarnDriver.UsbDriver")
ok = False: ok = IsObject(usb): Check "create by ProgID", ok
ok = False: ok = (CInt(usb.Open(etndevLumo, 1)) = 1): Check "Open LUMO1 gives 1", ok

usb.VendorRequestWrite &H40, 1, 2, b.FromHex("DEADBEEF")
Check "VendorRequestWrite with data", True
value = usb.VendorRequestRead(&H40, 0, 0, 4)
ok = False: ok = (b.ToHex(value) = "DEADBEEF"): Check "VendorRequestRead brings the register back", ok

usb.VendorRequestWrite &H41
Check "VendorRequestWrite with every optional argument omitted", True
ok = False: ok = (b.ToHex(usb.VendorRequestRead(&H41, 0, 0, 2)) = "0000"): Check "no data stage stored", ok

usb.VendorRequestWrite &H42, , , b.FromText("hi")
Check "VendorRequestWrite with the parameters omitted but data given", True
ok = False: ok = (b.ToHex(usb.VendorRequestRead(&H42, 0, 0, 2)) = "6869"): Check "data after omitted parameters", ok

ok = False: ok = (b.Length(usb.VendorRequestRead(&H42, 0, 0, 0)) = 0): Check "read of no bytes", ok
value = usb.VendorRequestRead(&H42, 0, 0, -1)
CheckError "read of a negative count", E_FAIL

key = usb.LockDevice(etnltPlayback)
ok = False: ok = (key <> 0): Check "LockDevice hands out a key", ok
ok = False: ok = (CInt(usb.Lock(etnltPlayback)) = 1): Check "Lock reads 1 while held", ok
usb.UnlockDevice etnltPlayback, key
Check "UnlockDevice with the key", True
ok = False: ok = (CInt(usb.Lock(etnltPlayback)) = 0): Check "Lock reads 0 once released", ok
usb.UnlockDevice etnltPlayback, 0
CheckError "UnlockDevice with key 0", E_FAIL

' The main endpoint works on the array a variable holds, in place.
sent = b.FromHex("0102030405")
usb.WriteMainEndpoint 5, sent
Check "WriteMainEndpoint from a variable", True
received = b.FromHex("0000000000")
usb.ReadMainEndpoint 5, received
ok = False: ok = (b.ToHex(received) = "0102030405"): Check "ReadMainEndpoint fills the variable's array", ok

usb.WriteMainEndpoint 2, sent
part = b.FromHex("EEEEEE")
usb.ReadMainEndpoint 2, part
ok = False: ok = (b.ToHex(part) = "0102EE"): Check "only the count moves, the array keeps its size", ok

' VBScript reports E_INVALIDARG as its own error 5, "Invalid procedure call or argument".
usb.ReadMainEndpoint 4, part
CheckError "a count beyond the array", 5

usb.Close
usb.VendorRequestWrite 1
CheckError "requests after Close fail", E_FAIL
ok = False: ok = (CInt(usb.Lock(etnltPlayback)) = 1): Check "Lock of a closed object reads locked", ok

Summary
