/* standin.exe: drive the stand-in devices from a shell or a script.
 *   standin serial COMMAND ...   the null-modem serial ports
 *   standin usb COMMAND ...      the USB device stand-in */
#include <stdio.h>
#include <wchar.h>

#include "commands.h"

static int usage(void)
{
    fputs("usage: standin serial|usb COMMAND [ARGS]\n"
          "       standin serial help    commands for the null-modem serial ports\n"
          "       standin usb help       commands for the USB device stand-in\n",
          stderr);
    return 2;
}

int wmain(int argc, wchar_t **argv)
{
    if (argc < 2)
        return usage();
    if (!wcscmp(argv[1], L"serial"))
        return serial_main(argc - 1, argv + 1);
    if (!wcscmp(argv[1], L"usb"))
        return usb_main(argc - 1, argv + 1);
    return usage();
}
