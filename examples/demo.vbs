' TarnDriver demo: the serial ports this machine has, as names and as numbers.
Option Explicit

Dim enumerator, ports, port
Set enumerator = CreateObject("TarnDriver.DriverEnumerator")

enumerator.EnumeratePorts "serial", ports
WScript.Echo "Serial ports:"
For Each port In ports
    WScript.Echo "  " & port
Next

enumerator.EnumeratePorts "serial", ports, "rawnumbers"
WScript.Echo "The same ports as numbers:"
For Each port In ports
    WScript.Echo "  " & port
Next
