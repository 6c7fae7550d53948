// Fuzz target: splitting any twelve stored registration bytes for the form,
// joining any prefix and number typed into it, and the round trip between
// the two: what the form shows must join back to the bytes it came from
// whenever they were a registration the form can spell.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "config/registration.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);

    vk61::RegistrationBytes stored{};
    const std::vector<std::uint8_t> raw = in.ConsumeBytes<std::uint8_t>(stored.size());
    std::copy(raw.begin(), raw.end(), stored.begin());
    const vk61::RegistrationSplit split = vk61::split_registration(stored);
    if (split.text.size() > vk61::kRegistrationMaxChars) std::abort();
    (void)vk61::registration_words(stored);

    const vk61::RegistrationBytes joined = vk61::join_registration(split.prefix, split.number);
    if (joined[vk61::kRegistrationBytes - 1] != 0) std::abort();  // the last byte is always 0
    // A registration that starts with a known prefix and has more after it
    // survives the round trip (a bare prefix joins to all zero by design).
    if (!split.blank && !split.found.empty() && !split.number.empty()) {
        const vk61::RegistrationSplit again = vk61::split_registration(joined);
        if (again.prefix != split.prefix || again.number != split.number) std::abort();
    }

    const std::string prefix = in.ConsumeRandomLengthString(8);
    const std::string number = in.ConsumeRemainingBytesAsString();
    const vk61::RegistrationBytes typed = vk61::join_registration(prefix, number);
    if (typed[vk61::kRegistrationBytes - 1] != 0) std::abort();
    (void)vk61::split_registration(typed);
    return 0;
}
