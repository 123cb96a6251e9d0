/* Command groups of standin.exe, the shell tool over the stand-in devices.
 * Each group gets the arguments that follow its name (argv[0] is the group
 * name) and returns the process exit code: 0 done, 1 failed, 2 usage error. */
#ifndef TARN_STANDIN_COMMANDS_H
#define TARN_STANDIN_COMMANDS_H

#include <wchar.h>

#ifdef __cplusplus
extern "C" {
#endif

int serial_main(int argc, wchar_t **argv); /* standin serial ... (serial_commands.c) */
int usb_main(int argc, wchar_t **argv);    /* standin usb ...    (usb_commands.c) */

#ifdef __cplusplus
}
#endif

#endif
