// The classes of TarnKit.dll.
#include "TarnKit.h"
#include "bytes.h"
#include "class_factory.h"
#include "event_bridge.h"
#include "registration.h"

namespace tarnkit {
namespace {

const KitClass kClasses[] = {
#define KIT_CLASS(name, progId, description, threadingModel) \
    {&CLSID_##name, CreateClassFactory<name>, progId, description, threadingModel},
#include "kit_class_list.h"
#undef KIT_CLASS
};

}  // namespace

const ClassTable kServerClasses = {kClasses, sizeof(kClasses) / sizeof(kClasses[0])};

}  // namespace tarnkit
