/* Helper for the lock tests: holds a device lock from a second process.
   usb_lock_holder DEVICE-PATH TYPE READY-EVENT RELEASE-EVENT
   Opens the device, locks TYPE, signals READY, waits for RELEASE (at most 30 s)
   and exits without unlocking.  Exit code: 0 lock granted, 1 refused, 2 no device,
   3 usage. */
#include <windows.h>
#include <stdlib.h>

#include "usb_control.h"

int wmain(int argc, wchar_t **argv)
{
    HANDLE device, ready, release;
    DWORD bytes;
    UCHAR type;
    BOOL granted;

    if (argc != 5)
        return 3;
    type = (UCHAR)_wtoi(argv[2]);
    ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[3]);
    release = OpenEventW(SYNCHRONIZE, FALSE, argv[4]);
    if (!ready || !release)
        return 3;
    device = CreateFileW(argv[1], GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    if (device == INVALID_HANDLE_VALUE) {
        SetEvent(ready);
        return 2;
    }
    granted = DeviceIoControl(device, TARN_USB_LOCK, &type, 1, NULL, 0, &bytes, NULL);
    SetEvent(ready);
    WaitForSingleObject(release, 30000);
    return granted ? 0 : 1; /* the process end closes the handle */
}
