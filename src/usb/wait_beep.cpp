#include "usb/wait_beep.h"

#include "platform/unique_handle.h"

namespace tarn::usb {

void FormatBeepObserverName(DWORD processId, wchar_t (&name)[64]) noexcept {
    ::wsprintfW(name, L"Local\\TarnDriver.UsbWaitBeeps.%lu", processId);
}

void SoundLongWaitBeep() noexcept {
    ::Beep(1000, 100);
    wchar_t name[64];
    FormatBeepObserverName(::GetCurrentProcessId(), name);
    UniqueHandle observer(::OpenSemaphoreW(SEMAPHORE_MODIFY_STATE, FALSE, name));
    if (observer) ::ReleaseSemaphore(observer.get(), 1, nullptr);
}

}  // namespace tarn::usb
