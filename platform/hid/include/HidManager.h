// libHid: the USB HID channel to the customer terminal (vendor 0x1217, product 0x9455).
//
// One object, made by CreateHidManager and released by DestroyHidManager, talks to one device.
// The terminal driver uses the object only through its first four virtual functions, so their
// order and signatures are fixed; nothing may be declared before them.
//
// Two transports sit behind the object, chosen when the device is opened:
//  - the real terminal, through hidapi's hidraw back end;
//  - the terminal simulator, when the environment variable COUNTERMATE_HID_SIM names a Unix
//    SOCK_SEQPACKET socket: one packet carries one report payload, without report number.
//
// Waiting: Read and Write never block for long. When nothing can be read (or written) they wait
// on the device's descriptor for about 10 ms and then return 0 or less, so a caller that polls
// them in a loop sleeps in the kernel instead of spinning. Data that arrives ends the wait at once.
// Thread-safety: one reader and one writer may use the object at the same time; Open and Close
// must not race with either.
#pragma once

class CHidManager {
public:
    // Opens the first device with these ids. Returns 1 when open, 0 or less on failure.
    virtual int Open(unsigned short vendor_id, unsigned short product_id) = 0;
    // Closes the device. Returns 0 (also when nothing was open).
    virtual int Close() = 0;
    // Writes one output report: report[0] is the report number (0), the payload follows.
    // Returns the bytes written (above 0), or 0 or less when the caller should try again.
    virtual int Write(const unsigned char* report, int length) = 0;
    // Reads one input report's payload (no report number) into `buffer`, at most `capacity`
    // bytes. Returns the byte count, or 0 or less when nothing has arrived within about 10 ms.
    virtual int Read(unsigned char* buffer, int capacity) = 0;

    virtual ~CHidManager() = default;
};

extern "C" {
CHidManager* CreateHidManager();
void DestroyHidManager(CHidManager* manager);
}
