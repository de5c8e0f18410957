// Feeds arbitrary bytes to the quick PNG decoder: it must give a picture or nothing, and never read
// or write out of bounds. A fuzzer cannot mend checksums, so each input is tried twice: as it is,
// and with every chunk's checksum made right, which lets mutations reach the decoding itself.
#include "platform/gfx/PngFormat.h"
#include "platform/gfx/PngReader.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace {

constexpr std::size_t kSignatureBytes = platform::png::kSignature.size();

void mendChecksums(std::vector<unsigned char>& file) {
    for (std::size_t at = kSignatureBytes; file.size() - at >= 12;) {
        const std::size_t length = platform::png::bigEndian(file.data() + at);
        if (file.size() - at - 12 < length) {
            return;
        }
        platform::png::putBigEndian(file.data() + at + 8 + length,
                                    platform::png::chunkChecksum(file.data() + at + 4, length));
        at += 12 + length;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    platform::decodeSimplePng(std::span<const unsigned char>(data, size));
    std::vector<unsigned char> mended(data, data + size);
    if (mended.size() >= kSignatureBytes) {
        mendChecksums(mended);
        platform::decodeSimplePng(mended);
    }
    return 0;
}
