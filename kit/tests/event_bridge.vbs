' TarnKit.EventBridge from VBScript: events fired from another thread of the
' multithreaded apartment reach a VBScript class instance's Subs while the
' script waits.  Needs TarnKitTestSource.dll registered.  Ends with
' "N passed, M failed".
Sub CheckError(name, number)
    CheckFailure name, Err.Number = number And Err.Source = "TarnKit.EventBridge" And Len(Err.Description) > 0
End Sub

' Keeps the script thread busy without delivering anything (WScript.Sleep
' does nothing under Wine).
Sub BusyFor(milliseconds)
    Dim start
    start = Timer
    Do While (Timer - start) * 1000 < milliseconds And Timer >= start
    Loop
End Sub

Class Recorder
    Public Log
    Public Sub OnText(Text)
        Log = Log & "[text " & Text & "]"
    End Sub
    Public Sub OnPair(Text, Number)
        Log = Log & "[pair " & Text & "=" & Number & "]"
    End Sub
    Public Sub onnumber(Number)  ' VBScript names ignore case
        Log = Log & "[number " & Number & "]"
    End Sub
End Class

Class TextOnly
    Public Log
    Public Sub OnText(Text)
        Log = Log & "[" & Text & "]"
    End Sub
End Class

Const E_INVALIDARG = &H80070057
Const TIMEOUT_MS = 10000

Dim ok, source, bridge, other, rec, textOnly, n, reached
Set source = CreateObject("TarnKitTestSource.TestSource")
Set rec = New Recorder
Set bridge = CreateObject("TarnKit.EventBridge")
bridge.Connect source, rec
ok = False: ok = (source.ConnectionCount = 1): Check "Connect advises the source once", ok

' The source fires after 100 ms, while the script is busy: the call waits in
' the script thread's queue.  (A delay of 0 could land while FireLater itself is
' still returning, and a thread that waits for a call's reply takes calls in.)
source.FireLater "OnText", "hello", 0, 100
BusyFor 500
ok = False: ok = (IsEmpty(rec.Log) And bridge.EventCount = 0): Check "events wait until the script waits", ok
ok = False: ok = bridge.WaitForEvents(1, TIMEOUT_MS): Check "WaitForEvents delivers the event", ok
ok = False: ok = (rec.Log = "[text hello]"): Check "OnText reached the handler", ok
ok = False: ok = source.FiredFromMta: Check "the source fired from its MTA thread", ok

source.FireLater "OnPair", "volts", 12, 0
ok = False: ok = bridge.WaitForEvents(2, TIMEOUT_MS): Check "two-argument event arrives", ok
ok = False: ok = (rec.Log = "[text hello][pair volts=12]"): Check "arguments arrive in their order", ok

source.FireLater "OnNumber", "", 7, 0
ok = False: ok = bridge.WaitForEvents(3, TIMEOUT_MS): Check "third event arrives", ok
ok = False: ok = (Right(rec.Log, 11) = "[number 7]]" Or Right(rec.Log, 10) = "[number 7]"): Check "handler method found regardless of case", ok

source.FireLater "OnText", "later", 50, 0
bridge.Wait 1000
ok = False: ok = (InStr(rec.Log, "[text later]") > 0 And bridge.EventCount = 4): Check "Wait delivers events for its whole time", ok
reached = True
reached = bridge.WaitForEvents(5, 100)
ok = False: ok = (reached = False): Check "WaitForEvents times out with False", ok

' A second bridge on the same source, whose handler lacks OnPair.
Set textOnly = New TextOnly
Set other = CreateObject("TarnKit.EventBridge")
other.Connect source, textOnly
ok = False: ok = (source.ConnectionCount = 2): Check "two bridges on one source", ok
source.FireLater "OnPair", "skipped", 1, 0
ok = False: ok = other.WaitForEvents(1, TIMEOUT_MS): Check "an event without a handler method still arrives", ok
ok = False: ok = IsEmpty(textOnly.Log): Check "an event without a handler method is skipped", ok
ok = False: ok = bridge.WaitForEvents(5, TIMEOUT_MS): Check "the first bridge receives it too", ok

bridge.Disconnect
ok = False: ok = (source.ConnectionCount = 1): Check "Disconnect unadvises", ok
n = bridge.EventCount
source.FireLater "OnText", "after", 0, 0
ok = False: ok = other.WaitForEvents(2, TIMEOUT_MS): Check "the remaining bridge still receives", ok
bridge.Wait 100
ok = False: ok = (textOnly.Log = "[after]" And InStr(rec.Log, "after") = 0 And bridge.EventCount = n): Check "a disconnected bridge delivers nothing", ok
bridge.Disconnect
ok = False: ok = True: Check "a second Disconnect does nothing", ok

Set other = Nothing
ok = False: ok = (source.ConnectionCount = 0): Check "releasing a bridge disconnects it", ok

bridge.Connect source, rec
bridge.Connect source, rec
ok = False: ok = (source.ConnectionCount = 1 And bridge.EventCount = 0): Check "Connect replaces the previous connection", ok
bridge.Disconnect

' A source that answers IProvideClassInfo only: its coclass names the events.
Dim plain, plainRec
Set plain = CreateObject("TarnKitTestSource.ClassInfoOnly")
Set plainRec = New Recorder
bridge.Connect plain, plainRec
plain.FireLater "OnText", "coclass", 0, 0
ok = False: ok = (bridge.WaitForEvents(1, TIMEOUT_MS) And plainRec.Log = "[text coclass]"): Check "events found through the coclass", ok
bridge.Disconnect

bridge.Connect CreateObject("TarnKit.Bytes"), rec
CheckError "a source without events is refused", E_INVALIDARG
bridge.Connect Nothing, rec
CheckError "Nothing as source is refused", E_INVALIDARG
bridge.Connect source, Nothing
CheckError "Nothing as handler is refused", E_INVALIDARG
bridge.Wait -1
CheckError "negative wait is refused", E_INVALIDARG
ok = False: ok = (source.ConnectionCount = 0): Check "failed Connects leave no connection", ok

Summary
