// The classes of the test event source module.
#include "class_factory.h"
#include "registration.h"
#include "test_source.h"

namespace tarnkit {
namespace {

const KitClass kClasses[] = {
    {&CLSID_TestSource, CreateClassFactory<tarnkit_test::TestSource>, L"TarnKitTestSource.TestSource",
     L"TestSource Class", L"Free"},
    {&CLSID_TestSourceClassInfoOnly, CreateClassFactory<tarnkit_test::TestSourceClassInfoOnly>,
     L"TarnKitTestSource.ClassInfoOnly", L"TestSourceClassInfoOnly Class", L"Free"},
};

}  // namespace

const ClassTable kServerClasses = {kClasses, sizeof(kClasses) / sizeof(kClasses[0])};

}  // namespace tarnkit
