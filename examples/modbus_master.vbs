' A Modbus RTU master in VBScript over Rs232Driver: it reads holding registers
' from a Modbus server on a serial line and handles the server's exception
' responses.  The frames' CRC-16 is computed here; TarnKit.Bytes builds and
' reads the byte arrays, which VBScript cannot.
'
'   cscript modbus_master.vbs PORT [UNIT]      (default unit 17)
'
' Here, against a real Modbus server (pymodbus) on the Linux end of a pty pair
' seen by Wine as COM35 and COM36:
'
'   tools/pty-pair with 35 36 -- tools/modbus-server 36 -- ./tarn script examples/modbus_master.vbs 35
Option Explicit

' One master on one serial port.  ReadHoldingRegisters returns an array of the
' register values, or Empty with LastError saying why (and LastException
' holding the code of an exception response).
Class ModbusMaster
    ' One name a line: Wine's VBScript takes no lists in a class.
    Private port
    Private bytes
    Public LastError
    Public LastException

    Private Sub Class_Initialize()
        Set bytes = CreateObject("TarnKit.Bytes")
        Set port = CreateObject("TarnDriver.Rs232Driver")
        LastError = ""
        LastException = 0
    End Sub

    ' 8 data bits, no parity, one stop bit: the driver's fixed line settings.
    Public Function Open(portNumber, baudRate)
        port.BaudRate = baudRate
        Open = (port.Open(portNumber) <> 0)
    End Function

    Public Sub Close()
        port.Close
    End Sub

    ' CRC-16/MODBUS: start at FFFF, reflected polynomial A001.  The & makes
    ' the constants Longs; &HFFFF alone would be the Integer -1.
    Public Function Crc16(data)
        Dim crc, i, bit
        crc = &HFFFF&
        For i = 0 To bytes.Length(data) - 1
            crc = crc Xor bytes.ByteAt(data, i)
            For bit = 1 To 8
                If (crc And 1) = 1 Then
                    crc = (crc \ 2) Xor &HA001&
                Else
                    crc = crc \ 2
                End If
            Next
        Next
        Crc16 = crc
    End Function

    ' The frame for a PDU given in hex: unit, PDU, CRC low byte first.
    Public Function Frame(unit, pduHex)
        Dim body, crc
        body = bytes.FromHex(Hex2(unit) & pduHex)
        crc = Crc16(body)
        Frame = bytes.Concat(body, bytes.FromHex(Hex2(crc And &HFF&) & Hex2(crc \ 256)))
    End Function

    Public Function ReadHoldingRegisters(unit, address, count)
        Dim stale, answer, functionCode, byteCount, values, i
        ReadHoldingRegisters = Empty
        LastError = ""
        LastException = 0
        stale = port.ReadAvailableBytes()   ' drops what a late answer left behind
        port.Write Frame(unit, "03" & Hex4(address) & Hex4(count))

        answer = ReadFirstByte(15)
        If IsEmpty(answer) Then LastError = "no answer": Exit Function
        If Not ReadMore(answer, 1) Then Exit Function
        functionCode = bytes.ByteAt(answer, 1)
        If functionCode = &H83 Then
            ' Exception response: unit, 83, exception code, CRC.
            If Not ReadMore(answer, 3) Then Exit Function
            If Not CrcMatches(answer) Then Exit Function
            LastException = bytes.ByteAt(answer, 2)
            LastError = "exception " & LastException & " (" & ExceptionName(LastException) & ")"
            Exit Function
        End If
        If functionCode <> 3 Then LastError = "unexpected function code " & functionCode: Exit Function
        If Not ReadMore(answer, 1) Then Exit Function
        byteCount = bytes.ByteAt(answer, 2)
        If Not ReadMore(answer, byteCount + 2) Then Exit Function
        If Not CrcMatches(answer) Then Exit Function
        If bytes.ByteAt(answer, 0) <> unit Then LastError = "answer from unit " & bytes.ByteAt(answer, 0): Exit Function
        If byteCount <> 2 * count Then LastError = byteCount & " data bytes for " & count & " registers": Exit Function

        ReDim values(count - 1)
        For i = 0 To count - 1
            values(i) = bytes.ByteAt(answer, 3 + 2 * i) * 256 + bytes.ByteAt(answer, 4 + 2 * i)
        Next
        ReadHoldingRegisters = values
    End Function

    ' Read waits at most 200 ms + 4 ms a byte, so the first byte of an answer
    ' is awaited in steps: a step that times out has taken nothing from the port.
    Private Function ReadFirstByte(steps)
        Dim attempt, piece
        ReadFirstByte = Empty
        On Error Resume Next
        For attempt = 1 To steps
            Err.Clear
            piece = port.Read(1)
            If Err.Number = 0 Then ReadFirstByte = piece: Exit Function
        Next
        Err.Clear   ' the time-outs were expected; the caller sees Empty
    End Function

    ' The rest of a frame follows at once; Read fails with "not all bytes received" if it does not.
    Private Function ReadMore(ByRef answer, count)
        Dim piece
        On Error Resume Next
        piece = port.Read(count)
        If Err.Number <> 0 Then
            LastError = "incomplete answer: " & Err.Description
            Err.Clear
            ReadMore = False
        Else
            answer = bytes.Concat(answer, piece)
            ReadMore = True
        End If
    End Function

    ' A frame's last two bytes are the CRC of the others; the CRC of a whole good frame is 0.
    Private Function CrcMatches(answer)
        CrcMatches = (Crc16(answer) = 0)
        If Not CrcMatches Then LastError = "CRC mismatch in " & bytes.ToHex(answer)
    End Function
End Class

Function ExceptionName(code)
    Select Case code
        Case 1: ExceptionName = "illegal function"
        Case 2: ExceptionName = "illegal data address"
        Case 3: ExceptionName = "illegal data value"
        Case 4: ExceptionName = "server device failure"
        Case Else: ExceptionName = "exception code " & code
    End Select
End Function

' Wine's VBScript has no Join.
Function Joined(values)
    Dim i
    Joined = ""
    For i = 0 To UBound(values)
        If i > 0 Then Joined = Joined & " "
        Joined = Joined & values(i)
    Next
End Function

Function Hex2(value)
    Hex2 = Right("0" & Hex(value), 2)
End Function

Function Hex4(value)
    Hex4 = Right("000" & Hex(value), 4)
End Function

' Echoes the registers read, or why there are none.
Sub ShowHoldingRegisters(first, count)
    Dim values, shown
    values = master.ReadHoldingRegisters(unit, first, count)
    If IsArray(values) Then shown = Joined(values) Else shown = master.LastError
    WScript.Echo "unit " & unit & ", holding registers " & first & " to " & (first + count - 1) & ": " & shown
End Sub

' --- The sample: read five registers, then ask for some the server lacks. ---
Dim portNumber, unit, master
portNumber = CLng(WScript.Arguments(0))
unit = 17
If WScript.Arguments.Count > 1 Then unit = CLng(WScript.Arguments(1))

Set master = New ModbusMaster
If Not master.Open(portNumber, 19200) Then
    WScript.Echo "COM" & portNumber & " cannot be opened"
    WScript.Quit 1
End If
ShowHoldingRegisters 0, 5
' Registers 8 to 11 do not all exist: the server answers with exception 2.
ShowHoldingRegisters 8, 4
master.Close
