#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace orbvex::sim {

// The receiver's NOR flash chip as storage: erasing sets every byte to 0xFF, and
// programming can only clear bits (the cell keeps old AND new).
class NorFlash {
public:
    static constexpr std::uint32_t kWindowEnd = 0x80000000;  // the flash ends just below RAM

    explicit NorFlash(std::uint32_t size);

    std::uint32_t Size() const { return static_cast<std::uint32_t>(bytes_.size()); }
    std::uint32_t Base() const { return kWindowEnd - Size(); }
    bool Contains(std::uint32_t address, std::uint32_t count) const;

    // A different chip size: kept bytes stay, new ones are erased.
    void Resize(std::uint32_t size);
    void EraseChip();
    void Program(std::uint32_t offset, const std::uint8_t* data, std::uint32_t count);

    std::uint8_t At(std::uint32_t offset) const { return bytes_[offset]; }
    void Set(std::uint32_t offset, std::uint8_t value) { bytes_[offset] = value; }
    const std::vector<std::uint8_t>& Bytes() const { return bytes_; }

    // Replaces the contents; what the image does not cover is erased. False, and
    // nothing changed, when the image is larger than the chip.
    bool Assign(const std::vector<std::uint8_t>& image);
    bool LoadFile(const std::string& path);
    bool SaveFile(const std::string& path) const;

private:
    std::vector<std::uint8_t> bytes_;
};

}  // namespace orbvex::sim
