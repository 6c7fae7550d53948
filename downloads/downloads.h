// The whole public interface of the downloads module.
#pragma once

#include "downloads/database_package.h"
#include "downloads/download_limits.h"
#include "downloads/download_locations.h"
#include "downloads/download_result.h"
#include "downloads/download_settings.h"
#include "downloads/file_digest.h"
#include "downloads/firmware_package.h"
#include "downloads/firmware_version.h"
#include "downloads/http_fetch.h"
#include "downloads/manifest_parser.h"
#include "downloads/manifest_service.h"
#include "downloads/manifest_source.h"
#include "downloads/package_selection.h"
