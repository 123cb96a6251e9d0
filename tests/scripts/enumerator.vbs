' DriverEnumerator and the class identities as a VBScript client sees them.
Option Explicit
Dim passed, failed
passed = 0 : failed = 0

Sub Check(condition, what)
    If condition Then
        passed = passed + 1
    Else
        failed = failed + 1
        WScript.Echo "FAILED: " & what
    End If
End Sub

Function Joined(list)
    Dim item, text
    text = ""
    For Each item In list
        If text <> "" Then text = text & ","
        text = text & item
    Next
    Joined = text
End Function

Dim progIds, progId, obj
progIds = Array("TarnDriver.Rs232Driver", "TarnDriver.UsbDriver", "TarnDriver.Rs232DigitalIoDriver", _
                "TarnDriver.DriverEnumerator")
On Error Resume Next
For Each progId In progIds
    Err.Clear
    Set obj = CreateObject(progId)
    Check Err.Number = 0 And IsObject(obj), "CreateObject " & progId
    Err.Clear
    Set obj = CreateObject(progId & ".1")
    Check Err.Number = 0 And IsObject(obj), "CreateObject " & progId & ".1"
Next
On Error GoTo 0

' PortName is the default member of both serial classes.
Dim serialClass, byDefault, byName, defaultError, nameError
For Each serialClass In Array("TarnDriver.Rs232Driver", "TarnDriver.Rs232DigitalIoDriver")
    Set obj = CreateObject(serialClass)
    On Error Resume Next
    Err.Clear
    byDefault = obj
    defaultError = Err.Number
    Err.Clear
    byName = obj.PortName
    nameError = Err.Number
    On Error GoTo 0
    Check defaultError = nameError, serialClass & ": default member answers as PortName"
    If defaultError = 0 Then Check byDefault = byName, serialClass & ": default member value"
Next

' The port list comes back into a variable, as names or as numbers.
Dim enumerator, ports, rawPorts, port, allCom
Set enumerator = CreateObject("TarnDriver.DriverEnumerator")
enumerator.EnumeratePorts "serial", ports
Check IsArray(ports), "EnumeratePorts fills the variable with an array"
Check LBound(ports) = 0, "the list starts at 0"
allCom = True
For Each port In ports
    If Left(port, 3) <> "COM" Then allCom = False
Next
Check allCom, "every name of this prefix starts with COM: " & Joined(ports)
Check InStr("," & Joined(ports) & ",", ",COM1,") > 0, "COM1, which Wine maps, is listed"

enumerator.EnumeratePorts "SERIAL", rawPorts, "RawNumbers"
Check UBound(rawPorts) = UBound(ports), "raw numbers list the same ports"
Dim i, sameNumbers
sameNumbers = True
For i = 0 To UBound(ports)
    If "COM" & rawPorts(i) <> ports(i) Then sameNumbers = False
Next
Check sameNumbers, "raw numbers are the names without COM: " & Joined(rawPorts)

' A failure carries its message and source.
Dim untouched
untouched = "kept"
On Error Resume Next
Err.Clear
enumerator.EnumeratePorts "usb", untouched
Check Err.Number = &H80020009, "unknown family gives DISP_E_EXCEPTION, got " & Hex(Err.Number)
Check Err.Description = "Unknown Port Family", "message: " & Err.Description
Check Err.Source = "TarnDriver.DriverEnumerator.1", "source: " & Err.Source
On Error GoTo 0
Check untouched = "kept", "the variable is left as it was"

WScript.Echo passed & " passed, " & failed & " failed"
