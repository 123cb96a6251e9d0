/* DISPIDs of IUsbDriver that the library's own code names, defined once: the
   type library (TarnDriver.idl includes this file) and the class read them here. */
#ifndef TARN_USB_DISPIDS_H
#define TARN_USB_DISPIDS_H

#define TARN_DISPID_WRITE_MAIN_ENDPOINT 105
#define TARN_DISPID_READ_MAIN_ENDPOINT 106

#endif
