#pragma once

#include <cstdint>
#include <utility>
#include <vector>

// One PNG snapshot as it left the browser. It owns its bytes and moves through the
// decode queue; copying is ruled out so a 1.5 MB snapshot is never duplicated by accident.
struct PngBuffer {
    std::vector<std::uint8_t> bytes;

    PngBuffer() = default;
    explicit PngBuffer(std::vector<std::uint8_t> data) : bytes(std::move(data)) {}
    PngBuffer(PngBuffer&&) noexcept = default;
    PngBuffer& operator=(PngBuffer&&) noexcept = default;
    PngBuffer(const PngBuffer&) = delete;
    PngBuffer& operator=(const PngBuffer&) = delete;

    bool empty() const { return bytes.empty(); }
    std::size_t size() const { return bytes.size(); }
};
