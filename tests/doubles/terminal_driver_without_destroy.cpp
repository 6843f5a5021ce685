// A terminal driver library that lacks DestroyCounterMate: the service must refuse to start.
extern "C" __attribute__((visibility("default"))) void* CreateCounterMate() { return nullptr; }
