// Fuzz target: the firmware worker's handling of an untrusted file. The input
// is written to a file; the header and file size are read from it, the fit
// test applied and the body read as the header asks - the same calls as the
// worker makes around the bus steps. The worker itself then runs on a
// manager that is not connected, so it stops at the prepare step.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <unistd.h>

#include "comms_manager.h"
#include "flash/firmware_file.h"
#include "transfer/firmware_worker.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Every step logs a line; writing them out would only slow the fuzzer.
    if (std::freopen("/dev/null", "w", stdout) == nullptr) return 0;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static vk61::CommsManager manager;  // never connected
    static const std::string path = "/tmp/vk61-fuzz-firmware-" + std::to_string(getpid()) + ".bin";

    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return 0;
    std::fwrite(data, 1, size, file);
    std::fclose(file);

    vk61::FirmwareImage image;
    if (vk61::read_firmware_image(path, &image)) {
        if (image.file.size() != size) std::abort();  // a success means every byte
        const bool fits = vk61::firmware_file_fits(image.header, static_cast<std::int64_t>(image.file.size()));
        // The fit check promises the whole body.
        if (fits && image.body_size() != image.header.encrypted_size()) std::abort();
    }
    vk61::run_firmware_update(manager, path, {}, [] { std::abort(); });
    return 0;
}
