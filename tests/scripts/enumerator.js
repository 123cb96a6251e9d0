// The classes and the enumerator as a JScript client sees them.  JScript hands
// arguments by value only, so the port list (an in-out array) is out of its
// reach: the call is refused as a type mismatch before it runs.
var progIds = ["TarnDriver.Rs232Driver", "TarnDriver.UsbDriver", "TarnDriver.Rs232DigitalIoDriver",
               "TarnDriver.DriverEnumerator"];
for (var i = 0; i < progIds.length; i++) {
    var progId = progIds[i];
    check("new ActiveXObject " + progId, function () { return new ActiveXObject(progId) !== null; });
}

var enumerator = new ActiveXObject("TarnDriver.DriverEnumerator");
checkFailure("a by-value list is refused as a type mismatch",
             function () { enumerator.EnumeratePorts("serial", null); },
             function (e) { return (e.number >>> 0) == 0x80020005; });

summary();
