#include "downloads/firmware_package.h"

#include "downloads/download_limits.h"
#include "downloads/package_file_resolver.h"

namespace vk61 {
namespace {

constexpr detail::PackageFileKind kFirmware{
    "firmware_file",
    "Firmware",
    "Firmware file",
    kMaxFirmwarePackageBytes,
};

}  // namespace

void FirmwarePackage::start_resolve_local_path(const DownloadSettings& settings, QObject* context,
                                               std::function<void(FileResult)> done) const {
    detail::start_resolve_package_file({firmware_file, download_url, sha256}, kFirmware, settings, context,
                                       std::move(done));
}

FileResult FirmwarePackage::resolve_local_path(const DownloadSettings& settings) const {
    return detail::resolve_package_file({firmware_file, download_url, sha256}, kFirmware, settings);
}

}  // namespace vk61
