#include "usb/usb_driver.h"

#include <memory>
#include <new>

#include "automation/byte_array.h"
#include "automation/out_values.h"
#include "usb/kernel_driver.h"
#include "usb/lock_keys.h"
#include "usb/request_bracket.h"
#include "usb/wait_beep.h"

namespace tarn {
namespace {

// The data stage that follows the request block: an array of bytes, signed or
// unsigned, of any lower bound; anything else is no data.
ULONG VendorDataSize(const ByteArrayInput& data) noexcept { return data.ok() ? data.size() : 0; }

}  // namespace

void UsbDriver::CloseHandles() noexcept {
    device_.reset();
    deviceMutex_.reset();
}

STDMETHODIMP UsbDriver::Open(ETNDevice etnltDevice, short nDeviceNbr, VARIANT_BOOL* pbSuccess) {
    Lock guard(lock_);
    if (!pbSuccess) return E_POINTER;
    const wchar_t* prefix = usb::DevicePrefix(etnltDevice);
    if (!prefix) {
        SetSuccessFlag(pbSuccess, false);
        return E_FAIL;
    }
    // Opening again replaces what the object holds; the earlier handles are closed first.
    CloseHandles();

    wchar_t mutexName[48];
    usb::FormatMutexName(prefix, nDeviceNbr, mutexName);
    // Opens the mutex if another object or process made it already.  A failure
    // leaves no mutex: the requests are then made without one.
    deviceMutex_.reset(::CreateMutexW(nullptr, FALSE, mutexName));

    wchar_t deviceName[32];
    usb::FormatDeviceName(prefix, nDeviceNbr, deviceName);
    device_ = usb::OpenDevice(deviceName);

    // A device that does not open leaves the mutex held until Close.
    SetSuccessFlag(pbSuccess, DeviceOpen());
    return DeviceOpen() ? S_OK : E_FAIL;
}

STDMETHODIMP UsbDriver::Close() {
    Lock guard(lock_);
    CloseHandles();
    return S_OK;
}

STDMETHODIMP UsbDriver::VendorRequestWrite(unsigned char byteRequestID, short nParam1,
                                           short nParam2, VARIANT varByteDataAry) {
    Lock guard(lock_);
    const usb::RequestBlock block = usb::MakeRequestBlock(byteRequestID, nParam1, nParam2);
    if (!DeviceOpen()) return E_FAIL;

    usb::TimeCriticalPriority priority;
    usb::DeviceMutexTurn turn(deviceMutex_.get());
    const ByteArrayInput data(varByteDataAry, Dimensions::AnyCount);
    const ULONG dataSize = VendorDataSize(data);
    if (dataSize > MAXDWORD - usb::kRequestBlockSize) return E_FAIL;
    const DWORD inputSize = usb::kRequestBlockSize + dataSize;

    std::unique_ptr<BYTE[]> input(new (std::nothrow) BYTE[inputSize]);
    if (!input) return E_FAIL;
    memcpy(input.get(), &block, usb::kRequestBlockSize);
    if (dataSize) memcpy(input.get() + usb::kRequestBlockSize, data.data(), dataSize);
    // Once sent, the request counts as made: the driver's answer is not examined.
    usb::VendorWrite(device_.get(), input.get(), inputSize);
    return S_OK;
}

STDMETHODIMP UsbDriver::VendorRequestRead(unsigned char byteRequestID, short nParam1, short nParam2,
                                          long nNbrOfBytes, VARIANT* pvarByteDataAry) {
    Lock guard(lock_);
    if (!pvarByteDataAry) return E_POINTER;
    const usb::RequestBlock block = usb::MakeRequestBlock(byteRequestID, nParam1, nParam2);
    if (!DeviceOpen()) return E_FAIL;
    UniqueSafeArray array = CreateByteArray(nNbrOfBytes);
    if (!array) return E_FAIL;

    bool received = false;
    {
        SafeArrayDataAccess access(array.get());
        if (access.ok() || nNbrOfBytes == 0) {
            usb::TimeCriticalPriority priority;
            usb::DeviceMutexTurn turn(deviceMutex_.get());
            received = usb::VendorRead(device_.get(), block, access.data(),
                                       static_cast<DWORD>(nNbrOfBytes));
        }
    }
    // Handed out also after a failed request: callers may look at what came.
    HandOutByteArray(std::move(array), pvarByteDataAry);
    return received ? S_OK : E_FAIL;
}

STDMETHODIMP UsbDriver::WriteMainEndpoint(long nNbrOfBytes2Write, SAFEARRAY** ppbyteDataAry) {
    return TransferMainEndpoint(Endpoint::Out, nNbrOfBytes2Write, ppbyteDataAry);
}

STDMETHODIMP UsbDriver::ReadMainEndpoint(long nNbrOfBytes2Read, SAFEARRAY** ppbyteDataAry) {
    return TransferMainEndpoint(Endpoint::In, nNbrOfBytes2Read, ppbyteDataAry);
}

HRESULT UsbDriver::TransferMainEndpoint(Endpoint direction, long count, SAFEARRAY** array) noexcept {
    Lock guard(lock_);
    if (!array || !*array) return E_POINTER;
    RETURN_IF_FAILED(CheckInPlaceByteArray(*array, count));
    if (!DeviceOpen()) return E_FAIL;

    SafeArrayDataAccess access(*array);
    if (!access.ok()) return E_FAIL;
    usb::TimeCriticalPriority priority;
    usb::DeviceMutexTurn turn(deviceMutex_.get());
    const DWORD size = static_cast<DWORD>(count);
    if (direction == Endpoint::Out)
        return usb::WriteMainEndpoint(device_.get(), access.data(), size) ? S_OK : E_FAIL;
    // The tone runs to its end before the read, with the mutex held if obtained.
    if (turn.WaitedSeconds() > usb::kLongWaitSeconds) usb::SoundLongWaitBeep();
    // The array keeps what was read, also after a short read.
    return usb::ReadMainEndpoint(device_.get(), access.data(), size) ? S_OK : E_FAIL;
}

STDMETHODIMP UsbDriver::ResetMainEndpointOut() {
    Lock guard(lock_);
    usb::DeviceMutexTurn turn(deviceMutex_.get());
    return DeviceOpen() && usb::ResetMainEndpointOut(device_.get()) ? S_OK : E_FAIL;
}

STDMETHODIMP UsbDriver::ResetMainEndpointIn() {
    Lock guard(lock_);
    usb::DeviceMutexTurn turn(deviceMutex_.get());
    return DeviceOpen() && usb::ResetMainEndpointIn(device_.get()) ? S_OK : E_FAIL;
}

STDMETHODIMP UsbDriver::LockDevice(ETNLockType lockType, long* pnKey) {
    Lock guard(lock_);
    if (!pnKey) return E_POINTER;
    bool granted = false;
    {
        usb::DeviceMutexTurn turn(deviceMutex_.get());
        granted = DeviceOpen() && usb::LockType(device_.get(), lockType);
    }
    *pnKey = granted ? usb::NextLockKey() : 0;
    return granted ? S_OK : E_FAIL;
}

STDMETHODIMP UsbDriver::UnlockDevice(ETNLockType lockType, long nKey) {
    Lock guard(lock_);
    usb::DeviceMutexTurn turn(deviceMutex_.get());
    // Any key but 0 (the key of a refused lock) unlocks: the driver keeps the locks, not the keys.
    if (nKey == 0) return E_FAIL;
    return DeviceOpen() && usb::UnlockType(device_.get(), lockType) ? S_OK : E_FAIL;
}

STDMETHODIMP UsbDriver::get_Lock(ETNLockType lockType, VARIANT_BOOL* pVal) {
    Lock guard(lock_);
    if (!pVal) return E_POINTER;
    bool locked = true;  // a query that cannot be made counts as locked
    {
        usb::DeviceMutexTurn turn(deviceMutex_.get());
        if (DeviceOpen()) locked = usb::IsTypeLocked(device_.get(), lockType);
    }
    SetSuccessFlag(pVal, locked);
    return S_OK;
}

}  // namespace tarn
