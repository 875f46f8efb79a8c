// The firmware image as sent to the bootloader: the file's bytes, one 0xFF pad byte when their
// count is odd, then the CRC-32 of all that, least significant byte first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "update/firmware_path.h"

struct FirmwareImage {
    std::uint8_t* bytes = nullptr;
    // Padded bytes plus the 4-byte CRC trailer; always even and at least 4.
    std::uint32_t totalLength = 0;
};

// The one heap buffer of a run, null between runs, so that the run's exit can free it whatever
// the outcome.
extern std::uint8_t* FirmwareImageBuffer;

enum class ImageLoadResult { Loaded, FileNotFound, FileUnreadable, TooLongToNumber };

// Builds the image for `revision` from the file beside the executable. FileNotFound when the
// path cannot be formed or the file cannot be opened, FileUnreadable when its size cannot be had,
// is 4 GiB or more, its buffer cannot be allocated, or its read fails or comes up short;
// TooLongToNumber when its image would need more blocks than can be numbered.
// A `folder` (separator included at its end) is looked in instead of the executable's.
ImageLoadResult LoadFirmwareImage(HardwareRevision revision, FirmwareImage& image,
                                  const std::optional<std::u16string>& folder = std::nullopt);

// The length of the image built from a file of `fileLength` bytes: padded to even, and the CRC.
constexpr std::uint64_t FirmwareImageLength(std::uint64_t fileLength) {
    return fileLength + fileLength % 2 + 4;
}

// Pads the `fileLength` bytes at the start of `buffer` to an even count and appends their CRC-32.
// `buffer` must hold fileLength + 5 bytes. Returns the total length.
std::uint32_t CompleteFirmwareImage(std::uint8_t* buffer, std::uint32_t fileLength);

void FreeFirmwareImage();
