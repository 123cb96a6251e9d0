/* Stands in for usb_commands.c until the USB stand-in's commands exist. */
#include <stdio.h>

#include "commands.h"

int usb_main(int argc, wchar_t **argv)
{
    (void)argc;
    (void)argv;
    fputs("standin: the USB stand-in commands are not built in this version\n", stderr);
    return 2;
}
