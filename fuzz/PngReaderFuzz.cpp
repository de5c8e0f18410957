// Feeds arbitrary bytes, as a file, to the PNG header reader and then to the decoding an image view
// asks for: each must give a picture or a refusal, and never read or write out of bounds. A
// fuzzer cannot mend checksums, which the decoder checks, so each input is tried twice: as it is,
// and with every chunk's checksum made right, which lets mutations reach the decoding itself.
#include "platform/gfx/Image.h"
#include "platform/gfx/PngFormat.h"
#include "tests/support/Png.h"

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::size_t kSignatureBytes = platform::png::kSignature.size();
// Larger pictures are decoded too, but slowly enough to starve the search of inputs.
constexpr long long kMostPixelsDecoded = 1 << 20;

void mendChecksums(std::vector<unsigned char>& file) {
    for (std::size_t at = kSignatureBytes; file.size() - at >= 12;) {
        const std::size_t length = platform::png::bigEndian(file.data() + at);
        if (file.size() - at - 12 < length) {
            return;
        }
        platform::png::putBigEndian(file.data() + at + 8 + length,
                                    testing_support::chunkChecksum(file.data() + at + 4, length));
        at += 12 + length;
    }
}

// One file in memory, rewritten for each input, under a path both readers open.
int memoryFile() {
    static const int fd = memfd_create("png", 0);
    return fd;
}

void readAsFile(const unsigned char* data, std::size_t size) {
    const int fd = memoryFile();
    if (fd < 0 || ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) {
        return;
    }
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    try {
        const auto image = platform::Image::fromPngFile(path);
        if (static_cast<long long>(image->widthPixels()) * image->heightPixels() <= kMostPixelsDecoded) {
            image->pixelsForSize(image->widthPixels(), image->heightPixels(), 1);
        }
    } catch (const std::runtime_error&) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    readAsFile(data, size);
    std::vector<unsigned char> mended(data, data + size);
    if (mended.size() >= kSignatureBytes) {
        mendChecksums(mended);
        readAsFile(mended.data(), mended.size());
    }
    return 0;
}
