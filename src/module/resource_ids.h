#pragma once
// Resource identifiers of the module (shared by the resource script and the
// code); the classes' registrar scripts are 101 upwards (classes.rc).
#define IDS_PROJNAME 100
