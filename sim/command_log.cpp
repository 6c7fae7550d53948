#include "command_log.h"

#include "chunk_length.h"

#include <cinttypes>

namespace sim {

namespace {

std::string format(const char* fmt, auto... args) {
    char buf[160];
    std::snprintf(buf, sizeof buf, fmt, args...);
    return buf;
}

}  // namespace

std::string CommandLog::describe(const vk61::BusFrame& f) {
    const std::uint8_t* d = f.data();
    const unsigned uid = f.uid_bits();
    const std::size_t n = f.payload_size();
    switch (f.base()) {
    case 0x010: return "WHOAMI request";
    case 0x370:
        if (n >= 2) return format("read setting %u from UID %u", d[1], uid);
        break;
    case 0x390:
        if (n >= 8) {
            return format("write setting %u = 0x%08" PRIX32 " (seq %" PRIu32 ")", d[0], vk61::get_u32(d + 1),
                          vk61::get_u24(d + 5));
        }
        break;
    case 0x3A0:
        if (n >= 7) {
            return format("store to EEPROM, checksum 0x%08" PRIX32 " (seq %" PRIu32 ")", vk61::get_u32(d),
                          vk61::get_u24(d + 4));
        }
        break;
    case 0x3B0: return "reboot";
    case 0x420: return format("write chunk to UID %u, %zu bytes", uid, chunk_length(f));
    case 0x430:
        if (n >= 6) {
            return format("erase block 0x%04X on UID %u (seq %" PRIu32 ")", vk61::get_u16(d + 4), uid,
                          vk61::get_u24(d + 1));
        }
        break;
    case 0x440:
        if (n >= 4) return format("set address 0x%08" PRIX32 " on UID %u", vk61::get_u32(d), uid);
        break;
    case 0x450:
        if (n >= 1) {
            return format("%s airport database on UID %u",
                          d[0] == 0xDA   ? "open"
                          : d[0] == 0xDC ? "close"
                                         : "bad command for",
                          uid);
        }
        break;
    case 0x730: return "prepare firmware update";
    case 0x790:
        if (n >= 2 && d[0] == 's') return format("client info request for UID %u", d[1]);
        break;
    default: break;
    }
    return format("frame 0x%03" PRIX32 " DLC %u", f.identifier() & 0x7FFu, f.dlc());
}

void CommandLog::frame(const vk61::BusFrame& f) {
    std::lock_guard lock(mutex_);
    if (f.base() == 0x420) {
        if (run_chunks_ > 0 && run_uid_ != f.uid_bits()) end_chunk_run();
        run_uid_ = f.uid_bits();
        ++run_chunks_;
        run_bytes_ += chunk_length(f);
        if (run_chunks_ % 1000 == 0) {
            print(format("host: ... %zu write chunks (%zu bytes) to UID %u so far", run_chunks_, run_bytes_, run_uid_));
        }
        return;
    }
    end_chunk_run();
    print("host: " + describe(f));
}

void CommandLog::line(const std::string& text) {
    std::lock_guard lock(mutex_);
    end_chunk_run();
    print(text);
}

void CommandLog::end_chunk_run() {
    if (run_chunks_ == 0) return;
    print(format("host: %zu write chunk(s), %zu bytes, to UID %u", run_chunks_, run_bytes_, run_uid_));
    run_chunks_ = 0;
    run_bytes_ = 0;
}

void CommandLog::print(const std::string& text) {
    std::fprintf(out_, "%s\n", text.c_str());
    std::fflush(out_);
}

}  // namespace sim
