// The classes of TarnKit.dll, in the order they are registered.
#include "com/object_map.h"

#include "bytes.h"
#include "com/com_object.h"
#include "event_bridge.h"
#include "resource_ids.h"

namespace tarn {
namespace {

const ObjectMapEntry kEntries[] = {
    {&CLSID_Bytes, &IID_IBytes, IDR_BYTES, &CreateUnaggregatedInstance<kit::Bytes>, {}},
    {&CLSID_EventBridge, &IID_IEventBridge, IDR_EVENTBRIDGE, &CreateUnaggregatedInstance<kit::EventBridge>, {}},
};

}  // namespace

const ObjectMap kModuleObjects = MakeObjectMap(kEntries);

}  // namespace tarn
