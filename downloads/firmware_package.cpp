#include "downloads/firmware_package.h"

#include "downloads/download_limits.h"
#include "downloads/package_file_resolver.h"

namespace vk61 {
namespace {

constexpr detail::PackageFileKind kFirmware{
    "Manifest entry has no firmware_file name",
    "Firmware package not available locally and manifest has no download_url",
    "Firmware file",
    kMaxFirmwarePackageBytes,
};

}  // namespace

void FirmwarePackage::start_resolve_local_path(const DownloadSettings& settings, QObject* context,
                                               std::function<void(FileOutcome)> done) const {
    detail::start_resolve_package_file({firmware_file, download_url, sha256}, kFirmware, settings, context,
                                       std::move(done));
}

bool FirmwarePackage::resolve_local_path(const DownloadSettings& settings, QString* local_path_out,
                                         QString* error) const {
    return detail::resolve_package_file({firmware_file, download_url, sha256}, kFirmware, settings, local_path_out,
                                        error);
}

}  // namespace vk61
