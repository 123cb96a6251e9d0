' Rs232Driver from VBScript on a wired pair of ports (arguments: the two COM
' numbers): bytes both ways through TarnKit.Bytes, the properties, and the
' errors a script sees.  Ends with "N passed, M failed".
' A call that must fail with this number and, when given, this message of the driver.
Sub CheckError(name, number, message)
    If message = "" Then
        CheckFailure name, Err.Number = number And Err.Source <> "TarnDriver.Rs232Driver.1"
    Else
        CheckFailure name, Err.Number = number And Err.Description = message And Err.Source = "TarnDriver.Rs232Driver.1"
    End If
End Sub

' Wine's script host has no WScript.Sleep: a Read on a port where nothing
' comes waits its time-out (200 ms + 4 ms a byte) instead.
Sub Pause(idlePort)
    Dim ignored
    On Error Resume Next
    ignored = idlePort.Read(1)
    Err.Clear
End Sub

Const E_FAIL = &H80004005
Const E_INVALIDARG = &H80070057
Const vbByteArray = 8209

Dim nearPort, farPort
nearPort = CLng(WScript.Arguments(0))
farPort = CLng(WScript.Arguments(1))

Dim k, a, b, ok, data, sent, flag
Set k = CreateObject("TarnKit.Bytes")
Set a = CreateObject("TarnDriver.Rs232Driver")
Set b = CreateObject("TarnDriver.Rs232Driver.1")
ok = False: ok = (IsObject(a) And IsObject(b)): Check "create by both ProgIDs", ok

ok = False: ok = (a.PortNumber = 0 And a.PortName = "COM0" And a.BaudRate = 9600): Check "a new object's properties", ok
ok = False: ok = (a = "COM0"): Check "PortName is the default member", ok

flag = a.Open(nearPort)
ok = False: ok = (CLng(flag) = 1): Check "Open gives the success flag 1", ok
flag = b.Open(farPort)
ok = False: ok = (CLng(flag) = 1 And b.PortName = "COM" & farPort And b.PortNumber = farPort): Check "the far end is open", ok

a.BaudRate = 19200
b.BaudRate = 19200
ok = False: ok = (a.BaudRate = 19200): Check "BaudRate written while open", ok

' A call's result passes by value, as does a variable in parentheses.
a.Write k.FromText("hello" & Chr(0) & Chr(255))
data = b.Read(7)
ok = False: ok = (VarType(data) = vbByteArray And k.ToHex(data) = "68656C6C6F00FF"): Check "bytes from a call's result arrive", ok

sent = k.FromHex("00 11 13 7F 80 FE")
b.Write (sent)
data = a.Read(6)
ok = False: ok = (k.ToHex(data) = "0011137F80FE"): Check "a variable in parentheses goes back", ok

b.Write k.Repeat(k.FromHex("5A"), 5000)
data = a.Read(5000)
ok = False: ok = (k.Length(data) = 5000 And k.ByteAt(data, 4999) = 90): Check "5000 bytes in one Read", ok

data = a.ReadAvailableBytes()
ok = False: ok = (VarType(data) = vbByteArray And k.Length(data) = 0): Check "ReadAvailableBytes with nothing waiting", ok
a.Write k.FromText("abc")
Pause a
data = b.ReadAvailableBytes()
ok = False: ok = (k.ToText(data) = "abc"): Check "ReadAvailableBytes takes what came", ok

data = b.Read(0)
ok = False: ok = (VarType(data) = vbByteArray And k.Length(data) = 0): Check "Read(0) gives an empty array", ok

' The errors, with the driver's messages.
data = b.Read(10)
CheckError "Read of bytes that never come", E_FAIL, "not all bytes received"
data = b.Read(-1)
CheckError "Read of a negative count", E_FAIL, "variant create failed"
a.Write 5
CheckError "Write of a number", E_INVALIDARG, "variant type mismatch"
a.Write Array(1, 2)
CheckError "Write of an array of variants", E_INVALIDARG, "variant type mismatch"
' A bare variable is passed by reference, which is not a byte array.
a.Write sent
CheckError "Write of a bare variable", E_INVALIDARG, "variant type mismatch"

a.Close
ok = False: ok = (a.PortNumber = 0 And a.PortName = "COM0" And a.BaudRate = 19200): Check "Close resets the port, keeps the rate", ok
a.Write k.FromHex("01")
CheckError "Write on a closed object", E_FAIL, "WriteFile failed"
data = a.Read(1)
CheckError "Read on a closed object", E_FAIL, "ReadFile failed"
data = a.ReadAvailableBytes()
CheckError "ReadAvailableBytes on a closed object", E_FAIL, ""
flag = a.Open(250)
CheckError "Open of a missing port", E_FAIL, ""
b.Close

Summary
