#include "update/firmware_path.h"

#include "update/firmware_file.h"

namespace {

std::u16string_view FirmwareFileName(HardwareRevision revision) {
    return revision == REVISION_2_CODE ? u"VIVAD-h2.0.bin" : u"VIVAD-h1.0.bin";
}

}  // namespace

bool ComposeFirmwarePath(std::u16string_view executablePath, HardwareRevision revision,
                         std::u16string& path) {
    const std::size_t lastBackslash = executablePath.rfind(u'\\');
    // Without a folder the bare name would be looked for in the current directory.
    if (lastBackslash == std::u16string_view::npos) {
        return false;
    }
    return ComposeFirmwarePathInFolder(executablePath.substr(0, lastBackslash + 1), revision, path);
}

bool ComposeFirmwarePathInFolder(std::u16string_view folder, HardwareRevision revision,
                                 std::u16string& path) {
    const std::u16string_view name = FirmwareFileName(revision);
    if (folder.size() + name.size() + 1 > FIRMWARE_PATH_CAPACITY) {
        return false;
    }
    path.assign(folder);
    path.append(name);
    return true;
}
