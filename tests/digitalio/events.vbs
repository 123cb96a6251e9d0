' Rs232DigitalIoDriver events in VBScript, through TarnKit.EventBridge: OnText
' on Open, and the line events when a second object on the peer port moves its
' outputs (its DTR is our DSR and DCD, its RTS our CTS).  The events come from
' the monitor's multithreaded apartment into this single-threaded script.
' Ends with "N passed, M failed".
Class Lines
    Public Log
    Public Sub OnText(Text)
        Log = Log & "[text " & Text & "]"
    End Sub
    Public Sub OnCTS(Level)
        Log = Log & "[cts " & Level & "]"
    End Sub
    Public Sub OnDSR(Level)
        Log = Log & "[dsr " & Level & "]"
    End Sub
    Public Sub OnDCD(Level)
        Log = Log & "[dcd " & Level & "]"
    End Sub
    Public Sub OnRI(Level)
        Log = Log & "[ri " & Level & "]"
    End Sub
End Class

Const TIMEOUT_MS = 5000
Dim ok, lines, peer, bridge, handler
Set lines = CreateObject("TarnDriver.Rs232DigitalIoDriver")
Set peer = CreateObject("TarnDriver.Rs232DigitalIoDriver")
Set handler = New Lines
Set bridge = CreateObject("TarnKit.EventBridge")
bridge.Connect lines, handler
Check "the bridge connects to the driver", Err.Number = 0

ok = False: ok = peer.Open("\\.\COM22"): Check "the peer opens", ok
ok = False: ok = lines.Open("COM21"): Check "Open succeeds with the name as users write it", ok
ok = False: ok = (lines.PortName = "COM21" And lines.PortNumber = 21): Check "PortName and PortNumber keep that name", ok
ok = False: ok = bridge.WaitForEvents(1, TIMEOUT_MS): Check "OnText arrives", ok
ok = False: ok = (handler.Log = "[text Tach auch]"): Check "OnText carries the greeting", ok
handler.Log = ""

peer.SetRTS 1
ok = False: ok = bridge.WaitForEvents(2, TIMEOUT_MS): Check "the peer's RTS raises an event", ok
ok = False: ok = (handler.Log = "[cts 1]"): Check "OnCTS with level 1", ok
ok = False: ok = (lines.GetCTS() = 1): Check "GetCTS agrees", ok
handler.Log = ""

peer.SetDTR 1
ok = False: ok = bridge.WaitForEvents(4, TIMEOUT_MS): Check "the peer's DTR raises two events", ok
ok = False: ok = (handler.Log = "[dsr 1][dcd 1]"): Check "OnDSR before OnDCD", ok
handler.Log = ""

lines.DebounceTime = 100
peer.SetDTR 0
peer.SetRTS 0
bridge.Wait 600
ok = False: ok = (InStr(handler.Log, "[cts 0]") > 0 Or InStr(handler.Log, "[dsr 0]") > 0): Check "events after a debounce delay", ok
ok = False: ok = (lines.GetDSR() = 0 And lines.GetCTS() = 0): Check "the lines read low", ok

lines.Close
handler.Log = ""
peer.SetRTS 1
bridge.Wait 300
ok = False: ok = (handler.Log = ""): Check "no events after Close", ok

Err.Clear
lines.SetDTR 1
ok = False: ok = (Err.Number = &H80020009 And Err.Description = "Device not open" And Err.Source = "TarnDriver.Rs232DigitalIoDriver.1")
Err.Clear
Check "SetDTR after Close reports Device not open", ok

bridge.Disconnect
peer.Close
Summary
