// A file named libSSCardDriver.so that is a library, but not the card library: it has none of
// the entries the service looks up.
extern "C" __attribute__((visibility("default"))) int card_module_version() { return 1; }
