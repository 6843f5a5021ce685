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
// Results of Read and Write:
//  - above 0: a report was read or written;
//  - 0: nothing arrived, or nothing could be written, within the short wait; try again;
//  - below 0: the call cannot succeed on this opening and never will: no device is open, the
//    device has gone (unplugged; the simulator hung up) or failed for good, or the arguments
//    are unusable. Every later call answers the same until the caller closes the device and
//    opens it again. Reports that arrived before a hang-up are still read first.
//
// Waiting: Read and Write never block for long. When nothing can be read (or written) they wait
// on the device's descriptor for about 10 ms before they return 0, so a caller that polls them in
// a loop sleeps in the kernel instead of spinning; data that arrives ends the wait at once. A
// negative result is paced the same way, so a caller that keeps polling a lost device still
// sleeps.
//
// Thread-safety: one reader and one writer may use the object at the same time. Open and Close
// must not race with each other nor with a Read or Write in progress: the caller lets every
// such call return before it closes.
#pragma once

class CHidManager {
public:
    // Opens the first device with these ids. Returns 1 when open (also when it already was),
    // 0 or less on failure.
    virtual int Open(unsigned short vendor_id, unsigned short product_id) = 0;
    // Closes the device. Returns 0 (also when nothing was open). A lost device is opened again
    // only after it has been closed.
    virtual int Close() = 0;
    // Writes one output report: report[0] is the report number (0), the payload follows.
    // Returns the bytes written (above 0), 0 when the device took nothing within about 10 ms,
    // or a negative value when the device is gone (see above).
    virtual int Write(const unsigned char* report, int length) = 0;
    // Reads one input report's payload (no report number) into `buffer`, at most `capacity`
    // bytes. Returns the byte count, 0 when nothing has arrived within about 10 ms, or a
    // negative value when the device is gone (see above).
    virtual int Read(unsigned char* buffer, int capacity) = 0;

    virtual ~CHidManager() = default;
};

extern "C" {
CHidManager* CreateHidManager();
void DestroyHidManager(CHidManager* manager);
}
