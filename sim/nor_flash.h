// External flash of one unit, modelled as NOR: erased bytes read 0xFF, erasing
// works on 64 KiB blocks, and programming can only clear bits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

namespace sim {

class NorFlash {
public:
    static constexpr std::uint32_t kBlockSize = 0x10000;
    static constexpr std::uint32_t kDefaultSize = 64u * 1024u * 1024u;

    explicit NorFlash(std::uint32_t size = kDefaultSize);

    std::uint32_t size() const { return size_; }

    // Sets every byte of the block to 0xFF. False for a block beyond the end.
    bool erase_block(std::uint32_t block);

    struct ProgramResult {
        bool in_range = false;             // false: nothing was written
        std::size_t unerased = 0;          // bytes that needed a bit set
        std::uint32_t first_unerased = 0;  // address of the first such byte
    };
    // Programs len bytes at addr. A byte whose target is not erased and would
    // need a bit set ends up as old & new, as the cell physically would, and is
    // counted in unerased.
    ProgramResult program(std::uint32_t addr, const std::uint8_t* data, std::size_t len);

    // Up to len bytes from addr; shorter when the range runs past the end.
    std::vector<std::uint8_t> read(std::uint32_t addr, std::size_t len) const;

    // Places bytes as they are, ignoring the NOR rule (test set-up). False if
    // the range runs past the end.
    bool load(std::uint32_t addr, const std::uint8_t* data, std::size_t len);

    // Blocks with backing store, i.e. programmed since their last erase.
    std::size_t allocated_blocks() const { return blocks_.size(); }

private:
    using Block = std::vector<std::uint8_t>;
    Block& block_for(std::uint32_t block);
    bool range_ok(std::uint32_t addr, std::size_t len) const;

    std::uint32_t size_;
    // Blocks are allocated on first write; an absent block is fully erased.
    std::map<std::uint32_t, std::unique_ptr<Block>> blocks_;
};

}  // namespace sim
