#pragma once
// Resource identifiers of the module (shared by the resource script and the code).
#define IDS_PROJNAME 100
#define IDR_RS232DRIVER 101
#define IDR_USBDRIVER 102
#define IDR_RS232DIGITALIODRIVER 104
#define IDR_DRIVERENUMERATOR 105
