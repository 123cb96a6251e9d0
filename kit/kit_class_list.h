// The classes of TarnKit.dll, one line each.  kit_classes.cpp builds its class
// table from this list, and the installer's generator reads it for the
// registry rows, so both register the same ProgIDs and threading models.
//
//        class        ProgID (version-independent)  description          threading model
KIT_CLASS(Bytes,       L"TarnKit.Bytes",              L"Bytes Class",       L"Both")
KIT_CLASS(EventBridge, L"TarnKit.EventBridge",        L"EventBridge Class", L"Apartment")
