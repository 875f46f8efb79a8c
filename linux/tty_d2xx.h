// What the Linux device library tells beyond the device library's statuses, for the front end:
// why the last open failed, and where each listed device is reached. Linux builds only.
#pragma once

#include <cstdint>
#include <string>

enum class TtyOpenFailure {
    None,          // the last FT_OpenEx succeeded, or none has been made
    NotFound,      // no FTDI tty carries the serial number, or its node has gone
    InUse,         // another program holds the tty: TIOCEXCL (EBUSY) or its lock (EWOULDBLOCK)
    NoPermission,  // EACCES or EPERM: neither the udev rule nor the dialout group grants access
    Other,         // anything else; LastTtyOpenErrno tells what
};

TtyOpenFailure LastTtyOpenFailure();
// The errno behind the last failure; 0 when the serial number was not found or nothing failed.
int LastTtyOpenErrno();
// The device node the last FT_OpenEx opened or tried to; empty when it found none.
std::string LastTtyOpenNode();

// The device node (e.g. "/dev/ttyUSB0") of the index-th device of the last count query
// (FT_ListDevices with FT_LIST_NUMBER_ONLY); empty for an index past its end.
std::string TtyNodeOfDevice(std::uint32_t index);
