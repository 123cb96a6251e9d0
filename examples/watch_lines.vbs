' Watches the input lines of COM21 (or of the port named by the first
' argument) and prints each change as it comes, until CTS changes or a minute
' has passed.  While it runs, move a line from a second terminal:
'     ./tarn standin serial line COM21 cts on
' That command joins this script's session, so the stand-in it changes is the
' one this script has open.  Events reach the script through
' TarnKit.EventBridge, whose Wait delivers them.
Option Explicit

Dim ctsChanged
ctsChanged = False

Function OnOff(level)
    If level Then OnOff = "on" Else OnOff = "off"
End Function

Class LineWatcher
    Public Sub OnCTS(Level)
        WScript.Echo "CTS " & OnOff(Level)
        ctsChanged = True
    End Sub
    Public Sub OnDSR(Level)
        WScript.Echo "DSR " & OnOff(Level)
    End Sub
    Public Sub OnDCD(Level)
        WScript.Echo "DCD " & OnOff(Level)
    End Sub
    Public Sub OnRI(Level)
        WScript.Echo "RI " & OnOff(Level)
    End Sub
End Class

Dim portName, lines, bridge, waited
portName = "COM21"
If WScript.Arguments.Count > 0 Then portName = WScript.Arguments(0)

Set lines = CreateObject("TarnDriver.Rs232DigitalIoDriver")
Set bridge = CreateObject("TarnKit.EventBridge")
bridge.Connect lines, New LineWatcher
lines.Open portName   ' a missing or busy port stops the script here, with the error
WScript.Echo "watching " & portName & ": CTS=" & OnOff(lines.GetCTS()) & " DSR=" & OnOff(lines.GetDSR()) & _
    " DCD=" & OnOff(lines.GetDCD()) & " RI=" & OnOff(lines.GetRI())

waited = 0
Do While Not ctsChanged And waited < 60000
    bridge.Wait 100
    waited = waited + 100
Loop
lines.Close
bridge.Disconnect

If Not ctsChanged Then
    WScript.Echo "no change of CTS in 60 s"
    WScript.Quit 1
End If
WScript.Echo "seen the change of CTS; done"
