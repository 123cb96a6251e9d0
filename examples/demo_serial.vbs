' TarnDriver demo, serial bytes: a line goes from an Rs232Driver on COM21 to
' one on COM22 (the null-modem stand-in pair) and back.
Option Explicit

Dim bytes, sender, receiver, reply
Set bytes = CreateObject("TarnKit.Bytes")
Set sender = CreateObject("TarnDriver.Rs232Driver")
Set receiver = CreateObject("TarnDriver.Rs232Driver")

sender.BaudRate = 115200
receiver.BaudRate = 115200
If sender.Open(21) = 0 Or receiver.Open(22) = 0 Then
    WScript.Echo "Rs232Driver: COM21 or COM22 cannot be opened (are the stand-ins running?)"
    WScript.Quit 1
End If
WScript.Echo "Rs232Driver: " & sender.PortName & " and " & receiver.PortName & " open at " & sender.BaudRate & " baud, 8N1"

Const lineText = "Hello from COM21"
sender.Write bytes.FromText(lineText & vbCrLf)
reply = receiver.Read(Len(lineText) + 2)
WScript.Echo "  " & receiver.PortName & " received " & bytes.Length(reply) & " bytes: " & _
             """" & Replace(Replace(bytes.ToText(reply), vbCr, "\r"), vbLf, "\n") & """"
WScript.Echo "  as hex: " & bytes.ToHex(reply)

receiver.Write bytes.FromHex("06")
reply = sender.ReadAvailableBytes()
WScript.Echo "  " & sender.PortName & " got the answer " & bytes.ToHex(reply) & " (ACK)"

' A Read that gets fewer bytes than asked fails after 200 ms + 4 ms a byte.
On Error Resume Next
reply = sender.Read(10)
WScript.Echo "  Read(10) with nothing coming: """ & Err.Description & """ from " & Err.Source
On Error GoTo 0

sender.Close
receiver.Close
WScript.Echo "  closed: PortName is now " & sender.PortName
