// Reference pictures as --compare reads them: any bytes as a PNG or BMP file, read at a
// wanted size the first bytes choose, so that both the size check and the decoding run.
#include <cstddef>
#include <cstdint>

#include "fuzz_util.hpp"
#include "job/refpic.hpp"

using namespace vimbra;

namespace {

// Sides worth wanting: small ones a fuzzed header reaches, and the 1 x 1 of a tiny file.
constexpr int kSides[] = {1, 2, 3, 5, 8, 13, 16, 31};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const fuzz::scratch_file file("refpic");
    if (size < 1) return 0;
    const int width = kSides[data[0] & 7];
    const int height = kSides[(data[0] >> 3) & 7];
    if (!file.write(data + 1, size - 1)) return 0;
    refpic_t pic{};
    char message[REFPIC_MESSAGE_CAPACITY];
    const int status =
        refpic_read(file.path.c_str(), width, height, &pic, message, REFPIC_MESSAGE_CAPACITY);
    if (status == REFPIC_OK && pic.width == width && pic.height == height) {
        // Every pixel was written: reading them all must stay inside the buffer.
        unsigned sum = 0;
        for (std::size_t i = 0; i < static_cast<std::size_t>(width) * height * 3; ++i) {
            sum += pic.rgb[i];
        }
        if (sum == 0xFFFFFFFFu) __builtin_trap(); // keeps the reads
    }
    if (status == REFPIC_REFUSED && message[0] == '\0') __builtin_trap(); // a refusal says why
    refpic_free(&pic);
    return 0;
}
