#include "sim/nor_flash.h"

#include <algorithm>

#include "util/image_file.h"

namespace orbvex::sim {

NorFlash::NorFlash(std::uint32_t size) : bytes_(size, 0xFF) {}

bool NorFlash::Contains(std::uint32_t address, std::uint32_t count) const {
    const std::uint64_t first = address;
    const std::uint64_t end = first + count;
    return first >= Base() && end <= kWindowEnd;
}

void NorFlash::Resize(std::uint32_t size) { bytes_.resize(size, 0xFF); }

void NorFlash::EraseChip() { std::fill(bytes_.begin(), bytes_.end(), std::uint8_t{0xFF}); }

void NorFlash::Program(std::uint32_t offset, const std::uint8_t* data, std::uint32_t count) {
    std::uint8_t* cell = bytes_.data() + offset;
    for (std::uint32_t i = 0; i < count; ++i) cell[i] = static_cast<std::uint8_t>(cell[i] & data[i]);
}

bool NorFlash::Assign(const std::vector<std::uint8_t>& image) {
    if (image.size() > bytes_.size()) return false;
    std::copy(image.begin(), image.end(), bytes_.begin());
    std::fill(bytes_.begin() + static_cast<std::ptrdiff_t>(image.size()), bytes_.end(), std::uint8_t{0xFF});
    return true;
}

bool NorFlash::LoadFile(const std::string& path) {
    std::vector<std::uint8_t> image;
    return ReadWholeFile(path, bytes_.size(), image).Ok() && Assign(image);
}

bool NorFlash::SaveFile(const std::string& path) const { return SaveWholeFile(path, bytes_).ok; }

}  // namespace orbvex::sim
