// Identifiers of the panel's windows and controls.  The tests find each control
// by these numbers (GetDlgItem of its page, and the page of the main window),
// so a number, once given, keeps its meaning.
#pragma once

// The main window and its page dialogs (a page's window ID is its dialog's).
#define IDD_MAIN 100
#define IDD_LINES 101
#define IDD_SERIAL 102
#define IDD_USB 103
#define IDC_LIBRARY_INFO 110
#define IDC_PAGES 111
// Ctrl+1..3 show a page: WM_COMMAND with IDM_SHOW_PAGE + page index.
#define IDM_SHOW_PAGE 120
#define IDR_ACCELERATORS 130
#define IDI_PANEL 131

// Lines page (Rs232DigitalIoDriver).
#define IDC_LINES_PORT 200
#define IDC_LINES_REFRESH 201
#define IDC_LINES_OPEN 202
#define IDC_LINES_CLOSE 203
#define IDC_LINES_CTS 204
#define IDC_LINES_DSR 205
#define IDC_LINES_RI 206
#define IDC_LINES_DCD 207
#define IDC_LINES_DTR 208
#define IDC_LINES_RTS 209
#define IDC_LINES_BREAK 210
#define IDC_LINES_DEBOUNCE 211
#define IDC_LINES_DEBOUNCE_SET 212
#define IDC_LINES_LOG 213
#define IDC_LINES_COPY 214
#define IDC_LINES_CLEAR 215

// Serial page (Rs232Driver).
#define IDC_SERIAL_PORT 300
#define IDC_SERIAL_BAUD 301
#define IDC_SERIAL_OPEN 302
#define IDC_SERIAL_CLOSE 303
#define IDC_SERIAL_SEND_TEXT 304
#define IDC_SERIAL_AS_TEXT 305
#define IDC_SERIAL_AS_HEX 306
#define IDC_SERIAL_ENDING 307
#define IDC_SERIAL_SEND 308
#define IDC_SERIAL_RECEIVED 309
#define IDC_SERIAL_READ_COUNT 310
#define IDC_SERIAL_READ 311
#define IDC_SERIAL_LOG 312
#define IDC_SERIAL_CLEAR 313
#define IDC_SERIAL_COPY 314

// USB page (UsbDriver).
#define IDC_USB_DEVICE 400
#define IDC_USB_NUMBER 401
#define IDC_USB_OPEN 402
#define IDC_USB_CLOSE 403
#define IDC_USB_REQUEST 404
#define IDC_USB_PARAM1 405
#define IDC_USB_PARAM2 406
#define IDC_USB_DATA 407
#define IDC_USB_LENGTH 408
#define IDC_USB_VENDOR_WRITE 409
#define IDC_USB_VENDOR_READ 410
#define IDC_USB_BULK_DATA 411
#define IDC_USB_BULK_SEND 412
#define IDC_USB_BULK_COUNT 413
#define IDC_USB_BULK_RECEIVE 414
#define IDC_USB_RESET_IN 415
#define IDC_USB_LOCK_TYPE 416
#define IDC_USB_LOCK 417
#define IDC_USB_UNLOCK 418
#define IDC_USB_HELD 419
#define IDC_USB_LOG 420
#define IDC_USB_COPY 421
#define IDC_USB_CLEAR 422

// Posted to a page when a call that ran off the window's thread has ended
// (lParam: the finished call, which the page's queue hands back).
#define WM_PANEL_CALL_DONE (WM_APP + 1)
