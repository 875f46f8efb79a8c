// Writing a prepared image into the tester's bootloader: announce it, ask whether the bootloader
// is ready, then send numbered blocks, one in flight, each acknowledged by its number.
#pragma once

#include "link/frame_codec.h"
#include "update/firmware_image.h"
#include "update/run_ending.h"

// ProgrammingComplete after "Programming complete.\n" has been logged, ProgrammingFailed or
// TesterNotReady otherwise, Interrupted when asked to stop between two exchanges. Nothing is sent
// after a failure. Progress is reported before the first block and after each acknowledged one.
RunEnding TransferImage(FrameBuffer& frame, const FirmwareImage& image);
