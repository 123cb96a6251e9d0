' The Modbus sample against a real Modbus RTU server (tools/modbus-server,
' pymodbus) on a pty pair.  Arguments: the COM number of our end and the unit.
' tools/run-script puts the sample (examples/modbus_master.vbs) in front of
' this file: it runs first, as a user runs it; then its ModbusMaster class is
' checked against the registers the server was given.
Check "the sample ran to its end", IsObject(master)

Dim m, k, cases, c, got, ok
Set m = New ModbusMaster
Set k = CreateObject("TarnKit.Bytes")
ok = False: ok = (m.Open(CLng(WScript.Arguments(0)), 19200)): Check "open the master's port", ok

' Frames as the protocol's own examples give them.
ok = False: ok = (k.ToHex(m.Frame(1, "0300000001")) = "010300000001840A"): Check "CRC of 01 03 00 00 00 01", ok
ok = False: ok = (k.ToHex(m.Frame(17, "03006B0003")) = "1103006B00037687"): Check "CRC of 11 03 00 6B 00 03", ok
ok = False: ok = (m.Crc16(k.FromHex("1103006B00037687")) = 0): Check "a whole frame's CRC is 0", ok

' Unit, address, count -> the values the server holds, or the error the master reports.
cases = Array( _
    Array(17, 0, 4, "4660 43981 0 1", ""), _
    Array(17, 4, 6, "65535 42 1000 3855 7 2024", ""), _
    Array(17, 9, 1, "2024", ""), _
    Array(17, 8, 4, "", "exception 2 (illegal data address)"), _
    Array(17, 0, 0, "", "exception 3 (illegal data value)"), _
    Array(17, 0, 126, "", "exception 3 (illegal data value)"), _
    Array(5, 0, 1, "", "no answer"), _
    Array(17, 1, 2, "43981 0", ""))
For Each c In cases
    got = m.ReadHoldingRegisters(c(0), c(1), c(2))
    If IsArray(got) Then got = Joined(got) Else got = m.LastError
    ok = False: ok = (got = c(3) & c(4))
    If Not ok Then WScript.Echo "  unit " & c(0) & ", " & c(2) & " at " & c(1) & ": got '" & got & "'"
    Check "unit " & c(0) & ", " & c(2) & " registers at " & c(1), ok
Next
ok = False: ok = (m.LastException = 0): Check "a good answer clears the exception", ok
m.Close

Summary
