' DriverEnumerator and the class identities as a VBScript client sees them.
Function Joined(list)
    Dim item, text
    text = ""
    For Each item In list
        If text <> "" Then text = text & ","
        text = text & item
    Next
    Joined = text
End Function

Dim ok, progIds, progId, obj
progIds = Array("TarnDriver.Rs232Driver", "TarnDriver.UsbDriver", "TarnDriver.Rs232DigitalIoDriver", _
                "TarnDriver.DriverEnumerator")
For Each progId In progIds
    Set obj = Nothing
    Set obj = CreateObject(progId)
    ok = False: ok = (Not obj Is Nothing): Check "CreateObject " & progId, ok
    Set obj = Nothing
    Set obj = CreateObject(progId & ".1")
    ok = False: ok = (Not obj Is Nothing): Check "CreateObject " & progId & ".1", ok
Next

' PortName is the default member of both serial classes.
Dim serialClass, byDefault, byName, defaultError, nameError
For Each serialClass In Array("TarnDriver.Rs232Driver", "TarnDriver.Rs232DigitalIoDriver")
    Set obj = CreateObject(serialClass)
    Err.Clear
    byDefault = obj
    defaultError = Err.Number
    Err.Clear
    byName = obj.PortName
    nameError = Err.Number
    Err.Clear
    ok = False: ok = (defaultError = nameError): Check serialClass & ": default member answers as PortName", ok
    If defaultError = 0 Then
        ok = False: ok = (byDefault = byName): Check serialClass & ": default member value", ok
    End If
Next

' The port list comes back into a variable, as names or as numbers.
Dim enumerator, ports, rawPorts, port, allCom
Set enumerator = CreateObject("TarnDriver.DriverEnumerator")
enumerator.EnumeratePorts "serial", ports
ok = False: ok = (IsArray(ports)): Check "EnumeratePorts fills the variable with an array", ok
ok = False: ok = (LBound(ports) = 0): Check "the list starts at 0", ok
allCom = True
For Each port In ports
    If Left(port, 3) <> "COM" Then allCom = False
Next
ok = False: ok = (allCom): Check "every name of this prefix starts with COM: " & Joined(ports), ok
ok = False: ok = (InStr("," & Joined(ports) & ",", ",COM1,") > 0): Check "COM1, which Wine maps, is listed", ok

enumerator.EnumeratePorts "SERIAL", rawPorts, "RawNumbers"
ok = False: ok = (UBound(rawPorts) = UBound(ports)): Check "raw numbers list the same ports", ok
Dim i, sameNumbers
sameNumbers = True
For i = 0 To UBound(ports)
    If "COM" & rawPorts(i) <> ports(i) Then sameNumbers = False
Next
ok = False: ok = (sameNumbers): Check "raw numbers are the names without COM: " & Joined(rawPorts), ok

' A failure carries its message and source.
Dim untouched
untouched = "kept"
enumerator.EnumeratePorts "usb", untouched
CheckFailure "an unknown family gives DISP_E_EXCEPTION with its message and source", _
    Err.Number = &H80020009 And Err.Description = "Unknown Port Family" And _
    Err.Source = "TarnDriver.DriverEnumerator.1"
ok = False: ok = (untouched = "kept"): Check "the variable is left as it was", ok

Summary
