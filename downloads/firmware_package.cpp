#include "downloads/firmware_package.h"

#include "downloads/package_file_resolver.h"

namespace vk61 {

bool FirmwarePackage::resolve_local_path(QString* local_path_out, QString* error) const {
    static constexpr detail::PackageFileKind kFirmware{
        "Manifest entry has no firmware_file name",
        "Firmware package not available locally and manifest has no download_url",
    };
    return detail::resolve_package_file({firmware_file, download_url, sha256}, kFirmware,
                                        local_path_out, error);
}

}  // namespace vk61
