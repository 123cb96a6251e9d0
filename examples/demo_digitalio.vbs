' TarnDriver demo: the control lines of COM21 as digital I/O, with events.
' A second object on COM22, the other end of the null-modem cable, moves its
' outputs: its RTS is our CTS, its DTR our DSR and DCD.  The ring indicator is
' driven by the stand-in's control tool.  Events reach this script through
' TarnKit.EventBridge, whose Wait delivers them.
Option Explicit

Class LinePrinter
    Public Sub OnText(Text)
        WScript.Echo "  event OnText(""" & Text & """)"
    End Sub
    Public Sub OnCTS(Level)
        WScript.Echo "  event OnCTS(" & Level & ")"
    End Sub
    Public Sub OnDSR(Level)
        WScript.Echo "  event OnDSR(" & Level & ")"
    End Sub
    Public Sub OnDCD(Level)
        WScript.Echo "  event OnDCD(" & Level & ")"
    End Sub
    Public Sub OnRI(Level)
        WScript.Echo "  event OnRI(" & Level & ")"
    End Sub
End Class

Sub Step(text)
    WScript.Echo text
End Sub

' The stand-in's tool lies beside TarnDriver.DLL.
Function StandinTool()
    Dim shell, clsid, dll
    StandinTool = ""
    On Error Resume Next
    Set shell = CreateObject("WScript.Shell")
    clsid = shell.RegRead("HKCR\TarnDriver.Rs232DigitalIoDriver\CLSID\")
    dll = shell.RegRead("HKCR\CLSID\" & clsid & "\InprocServer32\")
    If Err.Number = 0 Then StandinTool = Left(dll, InStrRev(dll, "\")) & "standin.exe"
    Err.Clear
End Function

Dim lines, peer, bridge, tool
Set lines = CreateObject("TarnDriver.Rs232DigitalIoDriver")
Set peer = CreateObject("TarnDriver.Rs232DigitalIoDriver")
Set bridge = CreateObject("TarnKit.EventBridge")
bridge.Connect lines, New LinePrinter

Step "Digital I/O on COM21 (the peer COM22 drives its inputs):"
peer.Open "\\.\COM22"   ' the device form works as well
Step "  Open greets with OnText, fired inside the call: its line comes before Open returns."
If lines.Open("COM21") Then Step "  opened " & lines.PortName & " (port number " & lines.PortNumber & ")"
bridge.Wait 200
Step "  inputs now: CTS=" & lines.GetCTS() & " DSR=" & lines.GetDSR() & " DCD=" & lines.GetDCD() & " RI=" & lines.GetRI()

Step "Peer raises RTS:"
peer.SetRTS 1
bridge.Wait 300
Step "Peer raises DTR:"
peer.SetDTR 1
bridge.Wait 300
Step "Peer drops both:"
peer.SetRTS 0
peer.SetDTR 0
bridge.Wait 300

tool = StandinTool()
If tool <> "" Then
    Step "The control device rings (RI on for 200 ms):"
    On Error Resume Next
    CreateObject("WScript.Shell").Run """" & tool & """ serial ring COM21 200", 0, True
    If Err.Number <> 0 Then Step "  (the stand-in tool could not be run: " & Err.Description & ")"
    On Error GoTo 0
    bridge.Wait 600
End If

Step "With a debounce time of 100 ms, a short pulse of RTS gives one event with the level from before:"
lines.DebounceTime = 100
peer.SetRTS 1
peer.SetRTS 0
bridge.Wait 500

Step "Our outputs: SetDTR 5 raises DTR and keeps the value (peer DSR before: " & peer.GetDSR() & ")"
lines.SetDTR 5
Step "  GetDTR=" & lines.GetDTR() & ", peer DSR=" & peer.GetDSR() & ", peer DCD=" & peer.GetDCD()
lines.SetRTS 1
Step "  SetRTS 1: peer CTS=" & peer.GetCTS()

lines.Close
peer.Close
bridge.Disconnect
Step "Closed."
