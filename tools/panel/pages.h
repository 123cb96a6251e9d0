// The three pages of the panel, each in its own file.
#pragma once

#include <memory>

#include "panel_support.h"

namespace panel {

std::unique_ptr<Page> MakeLinesPage();   // Rs232DigitalIoDriver
std::unique_ptr<Page> MakeSerialPage();  // Rs232Driver
std::unique_ptr<Page> MakeUsbPage();     // UsbDriver

}  // namespace panel
