#include "nor_flash.h"

namespace sim {

NorFlash::NorFlash(std::uint32_t size) : size_(size) {}

bool NorFlash::range_ok(std::uint32_t addr, std::size_t len) const {
    return addr <= size_ && len <= static_cast<std::size_t>(size_ - addr);
}

NorFlash::Block& NorFlash::block_for(std::uint32_t block) {
    auto& slot = blocks_[block];
    if (!slot) slot = std::make_unique<Block>(kBlockSize, 0xFF);
    return *slot;
}

bool NorFlash::erase_block(std::uint32_t block) {
    if (block >= size_ / kBlockSize) return false;
    blocks_.erase(block);  // an absent block reads as erased
    return true;
}

NorFlash::ProgramResult NorFlash::program(std::uint32_t addr, const std::uint8_t* data, std::size_t len) {
    ProgramResult result;
    if (!range_ok(addr, len)) return result;
    result.in_range = true;
    for (std::size_t i = 0; i < len; ++i) {
        const std::uint32_t a = addr + static_cast<std::uint32_t>(i);
        auto& cell = block_for(a / kBlockSize)[a % kBlockSize];
        if ((cell & data[i]) != data[i]) {
            if (result.unerased == 0) result.first_unerased = a;
            ++result.unerased;
        }
        cell = static_cast<std::uint8_t>(cell & data[i]);
    }
    return result;
}

std::vector<std::uint8_t> NorFlash::read(std::uint32_t addr, std::size_t len) const {
    if (addr >= size_) return {};
    if (len > size_ - addr) len = size_ - addr;
    std::vector<std::uint8_t> out(len, 0xFF);
    for (std::size_t i = 0; i < len; ++i) {
        const std::uint32_t a = addr + static_cast<std::uint32_t>(i);
        const auto it = blocks_.find(a / kBlockSize);
        if (it != blocks_.end()) out[i] = (*it->second)[a % kBlockSize];
    }
    return out;
}

bool NorFlash::load(std::uint32_t addr, const std::uint8_t* data, std::size_t len) {
    if (!range_ok(addr, len)) return false;
    for (std::size_t i = 0; i < len; ++i) {
        const std::uint32_t a = addr + static_cast<std::uint32_t>(i);
        block_for(a / kBlockSize)[a % kBlockSize] = data[i];
    }
    return true;
}

}  // namespace sim
