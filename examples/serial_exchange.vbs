' Sending and receiving bytes with Rs232Driver from VBScript.
'
'   ./tarn script examples/serial_exchange.vbs [PORT PEER]     (default COM21 and COM22)
'
' The two ports must be wired to each other: the stand-in pair COM21<->COM22,
' or a null-modem cable.  TarnKit.Bytes makes and reads the byte arrays.
Option Explicit

Dim port, peer, bytes, device, instrument, answer, waiting
port = 21
peer = 22
If WScript.Arguments.Count = 2 Then
    port = CLng(WScript.Arguments(0))
    peer = CLng(WScript.Arguments(1))
End If

Set bytes = CreateObject("TarnKit.Bytes")
Set device = CreateObject("TarnDriver.Rs232Driver")      ' our side
Set instrument = CreateObject("TarnDriver.Rs232Driver")  ' plays the instrument
device.BaudRate = 19200                                   ' set before or after Open
instrument.BaudRate = 19200
If device.Open(port) = 0 Or instrument.Open(peer) = 0 Then
    WScript.Echo "cannot open COM" & port & " or COM" & peer
    WScript.Quit 1
End If

' Write takes a byte array by value: a call's result, or a variable in
' parentheses.  A bare variable reaches it by reference and is refused with
' "variant type mismatch".
Dim command
command = bytes.FromText("*IDN?" & vbLf)
device.Write (command)

' Read(n) waits until n bytes came, at most 200 ms + 4 ms a byte.
answer = instrument.Read(bytes.Length(command))
WScript.Echo "instrument got: " & bytes.ToHex(answer)

instrument.Write bytes.FromText("TARN,SIM,0,1.0" & vbLf)
' ReadAvailableBytes returns at once with what has come so far (at most 4096 bytes).
answer = device.Read(15)
WScript.Echo "device got: " & bytes.ToText(answer)
waiting = device.ReadAvailableBytes()
WScript.Echo "left over: " & bytes.Length(waiting) & " bytes"

' Failures raise errors with the driver's message and source.
On Error Resume Next
answer = device.Read(4)
If Err.Number <> 0 Then WScript.Echo "Read(4): " & Err.Description & " (" & Err.Source & ", 0x" & Hex(Err.Number) & ")"
On Error GoTo 0

device.Close
instrument.Close
