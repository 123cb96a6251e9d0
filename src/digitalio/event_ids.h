/* The DISPIDs of _IRs232DigitalIoDriverEvents, defined once: the type library
   (TarnDriver.idl includes this file), the firing code and the tests read them
   here. */
#ifndef TARN_DIGITALIO_EVENT_IDS_H
#define TARN_DIGITALIO_EVENT_IDS_H

#define TARN_DISPID_ON_TEXT 1
#define TARN_DISPID_ON_DSR 2
#define TARN_DISPID_ON_CTS 3
#define TARN_DISPID_ON_DCD 4
#define TARN_DISPID_ON_RI 5

#ifndef __WIDL__
#include <windows.h>
#include <oaidl.h>

namespace tarn {

enum EventId : DISPID {
    kOnText = TARN_DISPID_ON_TEXT,
    kOnDSR = TARN_DISPID_ON_DSR,
    kOnCTS = TARN_DISPID_ON_CTS,
    kOnDCD = TARN_DISPID_ON_DCD,
    kOnRI = TARN_DISPID_ON_RI,
};

}  // namespace tarn
#endif

#endif
