// liblibsnapdesk: the workstation's screen as a JPEG file.
//
// The service's screen push loads "./liblibsnapdesk.so", binds `SnapDesk` by name and calls it in
// a loop, pushing each picture to the customer terminal.
#pragma once

extern "C" {

// Writes the current screen of the X display that DISPLAY names as a JPEG file at `path`.
// The file is written beside `path` and renamed over it, so a reader of `path` sees the previous
// picture or the new one, never part of one; an existing `path` that is not a regular file is
// left alone. False without a display, when the display is lost, or when the file cannot be
// written; never throws and never ends the process.
//
// Thread-safe. The display connection (and, where the X server offers MIT-SHM, the shared
// memory segment the pictures travel through) is kept from one call to the next and released
// when the library is unloaded; a changed DISPLAY or a lost server is connected anew.
__attribute__((visibility("default"))) bool SnapDesk(const char* path);

}  // extern "C"
