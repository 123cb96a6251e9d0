/* standin.exe: drive the stand-in devices from a shell or a script.
 *   standin serial COMMAND ...   the null-modem serial ports
 *   standin usb COMMAND ...      the USB device stand-in */
#include <stdio.h>
#include <wchar.h>

#include "commands.h"
#include "usage_texts.h"

int wmain(int argc, wchar_t **argv)
{
    if (argc >= 2 && (!wcscmp(argv[1], L"help") || !wcscmp(argv[1], L"--help"))) {
        fputs(usage_standin, stdout);
        return 0;
    }
    if (argc >= 2 && !wcscmp(argv[1], L"serial"))
        return serial_main(argc - 1, argv + 1);
    if (argc >= 2 && !wcscmp(argv[1], L"usb"))
        return usb_main(argc - 1, argv + 1);
    fputs(usage_standin, stderr);
    return 2;
}
