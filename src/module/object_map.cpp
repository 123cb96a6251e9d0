// The classes of TarnDriver.DLL, in the order they are registered; each
// object is made with its members passing through the trace.
#include "com/object_map.h"

#include "com/com_object.h"
#include "digitalio/rs232_digital_io_driver.h"
#include "enumerator/driver_enumerator.h"
#include "module/resource_ids.h"
#include "serial/rs232_driver.h"
#include "traced_members.h"
#include "usb/usb_driver.h"

namespace tarn {
namespace {

const ObjectMapEntry kEntries[] = {
    {&CLSID_Rs232Driver, &IID_IRs232Driver, IDR_RS232DRIVER, &CreateInstance<Traced<Rs232Driver>>, {}},
    {&CLSID_UsbDriver, &IID_IUsbDriver, IDR_USBDRIVER, &CreateInstance<Traced<UsbDriver>>, TableOf(UsbDriver::kScriptArrays)},
    {&CLSID_Rs232DigitalIoDriver, &IID_IRs232DigitalIoDriver, IDR_RS232DIGITALIODRIVER,
     &CreateInstance<Traced<Rs232DigitalIoDriver>>, {}},
    {&CLSID_DriverEnumerator, &IID_IDriverEnumerator, IDR_DRIVERENUMERATOR, &CreateInstance<Traced<DriverEnumerator>>,
     TableOf(DriverEnumerator::kScriptArrays)},
};

}  // namespace

const ObjectMap kModuleObjects = MakeObjectMap(kEntries);

}  // namespace tarn
