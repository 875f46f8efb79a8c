#include "update/firmware_image.h"

#include <cstdlib>
#include <limits>
#include <string>

#include "update/crc32.h"
#include "update/firmware_file.h"
#include "update/tester_commands.h"

std::uint8_t* FirmwareImageBuffer = nullptr;

namespace {

constexpr std::uint8_t PAD_BYTE = 0xFF;
constexpr std::uint32_t CRC_BYTES = 4;
// Room beyond the file for one pad byte and the CRC trailer.
constexpr std::uint32_t IMAGE_EXTRA_BYTES = 1 + CRC_BYTES;

// Reads the whole open file into a fresh FirmwareImageBuffer; its size in `fileLength`.
ImageLoadResult ReadWholeFile(FirmwareFile file, std::uint32_t& fileLength) {
    std::uint64_t size = 0;
    if (!GetFirmwareFileSize(file, size) || size > std::numeric_limits<std::uint32_t>::max()) {
        return ImageLoadResult::FileUnreadable;
    }
    // An image whose blocks cannot all be numbered is refused before any of it is read.
    if (FirmwareImageLength(size) > MAX_IMAGE_LENGTH) {
        return ImageLoadResult::TooLongToNumber;
    }
    const auto size32 = static_cast<std::uint32_t>(size);
    FirmwareImageBuffer = static_cast<std::uint8_t*>(std::malloc(size32 + IMAGE_EXTRA_BYTES));
    if (FirmwareImageBuffer == nullptr) {
        return ImageLoadResult::FileUnreadable;
    }
    std::uint32_t delivered = 0;
    // A short image must never be flashed, so a read that fails or stops early is an error.
    if (!ReadFirmwareFile(file, FirmwareImageBuffer, size32, delivered) || delivered != size32) {
        return ImageLoadResult::FileUnreadable;
    }
    fileLength = size32;
    return ImageLoadResult::Loaded;
}

}  // namespace

std::uint32_t CompleteFirmwareImage(std::uint8_t* buffer, std::uint32_t fileLength) {
    std::uint32_t padded = fileLength;
    if (padded % 2 != 0) {
        buffer[padded++] = PAD_BYTE;
    }
    BuildCrc32Table();
    const std::uint32_t crc = Crc32(buffer, padded);
    for (int i = 0; i < 4; ++i) {
        buffer[padded + i] = static_cast<std::uint8_t>(crc >> (8 * i));
    }
    return padded + 4;
}

namespace {

bool FirmwarePath(HardwareRevision revision, const std::optional<std::u16string>& folder,
                  std::u16string& path) {
    if (folder) {
        return ComposeFirmwarePathInFolder(*folder, revision, path);
    }
    std::u16string executablePath;
    return GetExecutablePath(executablePath) && ComposeFirmwarePath(executablePath, revision, path);
}

}  // namespace

ImageLoadResult LoadFirmwareImage(HardwareRevision revision, FirmwareImage& image,
                                  const std::optional<std::u16string>& folder) {
    std::u16string path;
    if (!FirmwarePath(revision, folder, path)) {
        return ImageLoadResult::FileNotFound;
    }
    const FirmwareFile file = OpenFirmwareFile(path);
    if (file == nullptr) {
        return ImageLoadResult::FileNotFound;
    }
    std::uint32_t fileLength = 0;
    const ImageLoadResult read = ReadWholeFile(file, fileLength);
    CloseFirmwareFile(file);
    if (read != ImageLoadResult::Loaded) {
        FreeFirmwareImage();
        return read;
    }
    image.bytes = FirmwareImageBuffer;
    image.totalLength = CompleteFirmwareImage(FirmwareImageBuffer, fileLength);
    return ImageLoadResult::Loaded;
}

void FreeFirmwareImage() {
    std::free(FirmwareImageBuffer);
    FirmwareImageBuffer = nullptr;
}
