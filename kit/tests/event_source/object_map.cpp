// The classes of the test event source module, in the order they are registered.
#include "com/object_map.h"

#include "com/com_object.h"
#include "test_source.h"

namespace tarn {
namespace {

enum : UINT { kTestSourceScript = 101, kClassInfoOnlyScript = 102 };  // as in TarnKitTestSource.rc

const ObjectMapEntry kEntries[] = {
    {&CLSID_TestSource, &IID_ITestSource, kTestSourceScript, &CreateUnaggregatedInstance<kit_test::TestSource>, {}},
    {&CLSID_TestSourceClassInfoOnly, &IID_ITestSource, kClassInfoOnlyScript,
     &CreateUnaggregatedInstance<kit_test::TestSourceClassInfoOnly>, {}},
};

}  // namespace

const ObjectMap kModuleObjects = MakeObjectMap(kEntries);

}  // namespace tarn
