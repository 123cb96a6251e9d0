// The classes of TarnKit.dll.
#include "TarnKit.h"
#include "bytes.h"
#include "class_factory.h"
#include "event_bridge.h"
#include "registration.h"

namespace tarnkit {
namespace {

const KitClass kClasses[] = {
    {&CLSID_Bytes, CreateClassFactory<Bytes>, L"TarnKit.Bytes", L"Bytes Class", L"Both"},
    {&CLSID_EventBridge, CreateClassFactory<EventBridge>, L"TarnKit.EventBridge", L"EventBridge Class",
     L"Apartment"},
};

}  // namespace

const ClassTable kServerClasses = {kClasses, sizeof(kClasses) / sizeof(kClasses[0])};

}  // namespace tarnkit
