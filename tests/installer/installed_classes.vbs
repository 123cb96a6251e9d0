' The installed classes, by ProgID and by name, as a script client sees them
' after the package alone registered them.  Argument: the port name the test
' registered in the serial-port map (SERIALCOMM).

Dim ok, port, progId, obj
port = WScript.Arguments(0)

For Each progId In Array("TarnDriver.Rs232Driver", "TarnDriver.Rs232DigitalIoDriver", "TarnDriver.UsbDriver", _
                         "TarnDriver.DriverEnumerator", "TarnKit.Bytes", "TarnKit.EventBridge")
    Set obj = Nothing
    Set obj = CreateObject(progId & ".1")
    ok = False: ok = (Not obj Is Nothing): Check "CreateObject " & progId & ".1", ok
Next

' Calls by name go through the registered type library.
Dim serial
Set serial = CreateObject("TarnDriver.Rs232Driver")
serial.BaudRate = 19200
ok = False: ok = (serial.BaudRate = 19200): Check "Rs232Driver.BaudRate by name", ok

Dim lines
Set lines = CreateObject("TarnDriver.Rs232DigitalIoDriver")
Err.Clear
lines.DebounceTime = 7
CheckFailure "Rs232DigitalIoDriver.DebounceTime of a closed port reports its message", _
    Err.Number = &H80020009 And Err.Description = "Device not open"

' A device that is not there: the call arrives and reports failure.
Dim usb, opened
Set usb = CreateObject("TarnDriver.UsbDriver")
Err.Clear
opened = usb.Open(0, 9)
CheckFailure "UsbDriver.Open of an absent device fails with E_FAIL", Err.Number = &H80004005

Dim enumerator, ports, numbers, name, listed, names
Set enumerator = CreateObject("TarnDriver.DriverEnumerator")
enumerator.EnumeratePorts "serial", ports
listed = False
names = ""
For Each name In ports
    If name = port Then listed = True
    names = names & " " & name
Next
ok = False: ok = (listed): Check "EnumeratePorts lists " & port & " (" & names & ")", ok
enumerator.EnumeratePorts "serial", numbers, "RawNumbers"
ok = False: ok = (UBound(numbers) = UBound(ports)): Check "EnumeratePorts RawNumbers lists as many", ok

' The kit answers too.
Dim bytes
Set bytes = CreateObject("TarnKit.Bytes")
ok = False: ok = (bytes.ToHex(bytes.FromHex("0a 0B")) = "0A0B"): Check "TarnKit.Bytes round trip", ok

Summary
