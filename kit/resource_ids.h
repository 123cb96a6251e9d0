#pragma once
// Resource identifiers of TarnKit.dll (shared by the resource script and the code).
#define IDR_BYTES 101
#define IDR_EVENTBRIDGE 102
