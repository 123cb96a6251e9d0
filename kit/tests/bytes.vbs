' TarnKit.Bytes from VBScript: build, read and compare byte arrays, and the
' errors a script sees for bad input.  Ends with "N passed, M failed".
' Calls that must fail: the error's number, source and a description.
Sub CheckError(name, number)
    CheckFailure name, Err.Number = number And Err.Source = "TarnKit.Bytes" And Len(Err.Description) > 0
End Sub

Const E_INVALIDARG = &H80070057
Const DISP_E_TYPEMISMATCH = &H80020005

Dim ok, b, versioned, a, c, r, n
Set b = CreateObject("TarnKit.Bytes")
ok = False: ok = (IsObject(b)): Check "create by version-independent ProgID", ok
Set versioned = CreateObject("TarnKit.Bytes.1")
ok = False: ok = (IsObject(versioned)): Check "create by versioned ProgID", ok

a = b.FromHex("01 02 0a FF")
ok = False: ok = (VarType(a) = 8209): Check "FromHex gives a byte array (vbArray + vbByte)", ok
ok = False: ok = (b.ToHex(a) = "01020AFF"): Check "ToHex of a variable", ok
ok = False: ok = (b.Length(a) = 4): Check "Length of a variable", ok
ok = False: ok = (b.ToHex(b.FromHex("7f80")) = "7F80"): Check "ToHex of a call result", ok
ok = False: ok = (b.Length(b.FromHex("")) = 0 And VarType(b.FromHex("")) = 8209): Check "empty hex gives an empty array", ok
ok = False: ok = (b.ByteAt(a, 0) = 1 And b.ByteAt(a, 3) = 255): Check "ByteAt reads single bytes", ok

c = b.FromText("Tach" & Chr(0) & Chr(255))
ok = False: ok = (b.ToHex(c) = "5461636800FF"): Check "FromText of characters 0 to 255", ok
ok = False: ok = (b.ToText(b.FromText("AT+CMD" & vbCr)) = "AT+CMD" & vbCr): Check "ToText round trip", ok
ok = False: ok = (Asc(Right(b.ToText(b.FromHex("41FE")), 1)) = 254): Check "ToText maps bytes to character codes", ok

r = b.Repeat(b.FromHex("55 AA"), 3)
ok = False: ok = (b.ToHex(r) = "55AA55AA55AA"): Check "Repeat", ok
ok = False: ok = (b.ToHex(b.Concat(a, b.FromText("Z"))) = "01020AFF5A"): Check "Concat", ok
ok = False: ok = (b.Length(b.Concat(r, r)) = 12): Check "Concat of an array with itself", ok
ok = False: ok = (versioned.ToHex(a) = "01020AFF"): Check "versioned object shares the class", ok

n = b.FromHex("ABC")
CheckError "odd number of hex digits", E_INVALIDARG
n = b.FromHex("12 3G")
CheckError "bad hex digit", E_INVALIDARG
n = b.FromHex("1 2")
CheckError "blank inside a byte", E_INVALIDARG
n = b.Length("0102")
CheckError "a string is not a byte array", DISP_E_TYPEMISMATCH
n = b.ToHex(Array(1, 2))
CheckError "an array of variants is not a byte array", DISP_E_TYPEMISMATCH
n = b.ByteAt(a, 4)
CheckError "ByteAt beyond the end", E_INVALIDARG
n = b.Repeat(a, -1)
CheckError "negative Repeat count", E_INVALIDARG

Summary
