' Byte arrays from VBScript with TarnKit.Bytes.
'
'   ./tarn script examples/bytes.vbs
'
' VBScript cannot make a byte array, and some script hosts cannot look inside
' one (LenB, MidB, UBound and indexing may not work).  TarnKit.Bytes builds
' them from hex or text and reads them back, for Rs232Driver.Write, Read and
' the USB transfers.
Option Explicit

Dim bytes, command, reply, frame
Set bytes = CreateObject("TarnKit.Bytes")

' Build: from hex digits (blanks between bytes are allowed) or from text.
command = bytes.FromHex("02 10 FF 03")
reply = bytes.FromText("OK" & vbCr)
WScript.Echo "command: " & bytes.ToHex(command) & " (" & bytes.Length(command) & " bytes)"
WScript.Echo "reply:   " & bytes.ToHex(reply) & " = """ & Replace(bytes.ToText(reply), vbCr, "\r") & """"

' Read single bytes, counting from 0.
WScript.Echo "second byte of command: " & bytes.ByteAt(command, 1)

' Test data: repeat a pattern and join arrays.
frame = bytes.Concat(command, bytes.Repeat(bytes.FromHex("55 AA"), 4))
WScript.Echo "frame:   " & bytes.ToHex(frame)

' Compare arrays through their hex form.
If bytes.ToHex(bytes.FromText("AB")) = bytes.ToHex(bytes.FromHex("4142")) Then
    WScript.Echo "FromText(""AB"") equals FromHex(""4142"")"
End If

' Bad input fails with a description.
On Error Resume Next
command = bytes.FromHex("1 2")
WScript.Echo "FromHex(""1 2"") fails: " & Err.Description & " (" & Err.Source & ")"
Err.Clear
