// frame_copy_probe: one plain copy of a panel frame (768 x 512 x 4 bytes), the yardstick for
// what a new snapshot costs the main thread. scripts/bench counts the instructions of
// copyFrame under callgrind and divides by the number of copies.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

constexpr std::size_t frameBytes = 768u * 512u * 4u;
constexpr int copies = 10;

// Out of line, so callgrind can collect exactly its instructions (--toggle-collect).
extern "C" __attribute__((noinline)) void copyFrame(std::uint8_t* to, const std::uint8_t* from, std::size_t size) {
    std::memcpy(to, from, size);
}

int main() {
    std::vector<std::uint8_t> frame(frameBytes, 0x7f), copy(frameBytes);
    for (int i = 0; i < copies; ++i) copyFrame(copy.data(), frame.data(), frame.size());
    std::printf("{\"copies\": %d, \"bytes\": %zu}\n", copies, frameBytes);
    return copy[frameBytes / 2] == 0x7f ? 0 : 1;
}
