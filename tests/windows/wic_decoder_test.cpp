// The Windows decoder on the decode thread's terms: its own thread in COM's multithreaded
// apartment, a PNG in, exact BGRA out, and nothing published for anything else.
#include <objbase.h>
#include <wincodec.h>
#include <wrl/client.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <thread>
#include <tuple>
#include <vector>

#include "pipeline/decoder.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

void put32(Bytes& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(value >> shift));
}

void chunk(Bytes& out, const char* type, const Bytes& body) {
    put32(out, static_cast<std::uint32_t>(body.size()));
    Bytes typed(type, type + 4);
    typed.insert(typed.end(), body.begin(), body.end());
    out.insert(out.end(), typed.begin(), typed.end());
    std::uint32_t crc = ~0u;
    for (std::uint8_t byte : typed) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    put32(out, ~crc);
}

// An 8-bit RGBA PNG built byte by byte (stored deflate blocks), so the decoder is checked
// against images that did not come out of the same imaging library. Rows top first.
Bytes encodePng(std::uint32_t width, std::uint32_t height, const Bytes& rgba) {
    Bytes raw;  // each row: filter type 0, then the row's bytes
    for (std::uint32_t y = 0; y < height; ++y) {
        raw.push_back(0);
        raw.insert(raw.end(), rgba.begin() + y * width * 4, rgba.begin() + (y + 1) * width * 4);
    }
    Bytes zlib{0x78, 0x01};
    std::uint32_t a = 1, b = 0;
    for (std::uint8_t byte : raw) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    for (std::size_t offset = 0; offset < raw.size();) {
        const std::size_t block = std::min<std::size_t>(65535, raw.size() - offset);
        zlib.insert(zlib.end(), {static_cast<std::uint8_t>(offset + block == raw.size()),
                                 static_cast<std::uint8_t>(block), static_cast<std::uint8_t>(block >> 8),
                                 static_cast<std::uint8_t>(~block), static_cast<std::uint8_t>(~block >> 8)});
        zlib.insert(zlib.end(), raw.begin() + offset, raw.begin() + offset + block);
        offset += block;
    }
    put32(zlib, (b << 16) | a);

    Bytes png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}, header;
    put32(header, width);
    put32(header, height);
    header.insert(header.end(), {8, 6, 0, 0, 0});
    chunk(png, "IHDR", header);
    chunk(png, "IDAT", zlib);
    chunk(png, "IEND", {});
    return png;
}

// Runs `work` the way the decode thread does: its own thread, entered and left around it.
template <typename Work>
void onDecoderThread(Work work) {
    std::thread thread([&] {
        const bool entered = enterDecoderThread();
        work();
        leaveDecoderThread(entered);
    });
    thread.join();
}

using Decoded = std::tuple<bool, Bytes, std::uint32_t, std::uint32_t>;  // ok, pixels, width, height
const Decoded kUntouched{false, {0xEE}, 7, 9};                          // sentinels: a failed decode must leave them

Decoded decode(Bytes bytes) {
    Decoded out = kUntouched;
    auto& [ok, pixels, width, height] = out;
    onDecoderThread([&] { ok = decodeSnapshot(PngBuffer(std::move(bytes)), pixels, width, height); });
    return out;
}

// 3 x 2: straight alpha must come through unpremultiplied, rows top first.
const Bytes kValidPng = encodePng(3, 2, {0xFF, 0x00, 0x00, 0xFF, 0x00, 0xFF, 0x00, 0x80, 0x00, 0x00, 0xFF, 0x00,
                                         0x10, 0x20, 0x30, 0x40, 0xFE, 0xDC, 0xBA, 0xFF, 0x01, 0x02, 0x03, 0x04});
const Bytes kValidBgra = {0x00, 0x00, 0xFF, 0xFF, 0x00, 0xFF, 0x00, 0x80, 0xFF, 0x00, 0x00, 0x00,
                          0x30, 0x20, 0x10, 0x40, 0xBA, 0xDC, 0xFE, 0xFF, 0x03, 0x02, 0x01, 0x04};

TEST(WicDecoder, GivesExactBgraBytesTopRowFirstUpToTheSizeLimit) {
    // The capture hands over the whole memory block, which may be longer than the PNG.
    Bytes padded = kValidPng;
    padded.resize(padded.size() + 4096, 0xCD);
    EXPECT_EQ(decode(padded), Decoded(true, kValidBgra, 3, 2));
    // 16384 pixels wide still decodes; one more is a real image, but wider than any page.
    EXPECT_TRUE(std::get<bool>(decode(encodePng(16384, 1, Bytes(16384 * 4, 0x7F)))));
    EXPECT_EQ(decode(encodePng(16385, 1, Bytes(16385 * 4, 0x7F))), kUntouched);
}

// Refused, what is not a whole PNG leaves the outputs as they were; the decode worker, shared
// with Linux and tested there, then keeps the frame it has.
TEST(WicDecoder, RejectsWhatIsNotAWholePng) {
    const Bytes bad[] = {{'n', 'o', 't', ' ', 'a', ' ', 'p', 'n', 'g'},
                         {},
                         Bytes(kValidPng.begin(), kValidPng.begin() + kValidPng.size() / 2),
                         Bytes(kValidPng.begin(), kValidPng.end() - 20),
                         Bytes(kValidPng.begin(), kValidPng.begin() + 8)};
    for (const Bytes& bytes : bad) EXPECT_EQ(decode(bytes), kUntouched) << bytes.size();
}

// A JPEG of one colour, 32 x 16, made with the imaging library's own encoder; empty on failure.
Bytes encodeJpeg(std::uint8_t blue, std::uint8_t green, std::uint8_t red) {
    using Microsoft::WRL::ComPtr;
    Bytes bytes;
    onDecoderThread([&] {
        ComPtr<IWICImagingFactory> factory;
        ComPtr<IStream> stream;
        ComPtr<IWICBitmapEncoder> encoder;
        ComPtr<IWICBitmapFrameEncode> frame;
        ComPtr<IPropertyBag2> options;
        WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
        Bytes pixels;
        for (int i = 0; i < 32 * 16; ++i) pixels.insert(pixels.end(), {blue, green, red});
        HGLOBAL memory = nullptr;
        STATSTG stat{};
        if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                    reinterpret_cast<void**>(factory.GetAddressOf()))) ||
            FAILED(CreateStreamOnHGlobal(nullptr, TRUE, stream.GetAddressOf())) ||
            FAILED(factory->CreateEncoder(GUID_ContainerFormatJpeg, nullptr, encoder.GetAddressOf())) ||
            FAILED(encoder->Initialize(stream.Get(), WICBitmapEncoderNoCache)) ||
            FAILED(encoder->CreateNewFrame(frame.GetAddressOf(), options.GetAddressOf())) ||
            FAILED(frame->Initialize(options.Get())) || FAILED(frame->SetSize(32, 16)) ||
            FAILED(frame->SetPixelFormat(&format)) || !IsEqualGUID(format, GUID_WICPixelFormat24bppBGR) ||
            FAILED(frame->WritePixels(16, 32 * 3, static_cast<UINT>(pixels.size()), pixels.data())) ||
            FAILED(frame->Commit()) || FAILED(encoder->Commit()) || FAILED(stream->Stat(&stat, STATFLAG_NONAME)) ||
            FAILED(GetHGlobalFromStream(stream.Get(), &memory)))
            return;
        const auto* data = static_cast<const std::uint8_t*>(GlobalLock(memory));
        bytes.assign(data, data + stat.cbSize.QuadPart);
        GlobalUnlock(memory);
    });
    return bytes;
}

// Live frames come as JPEG: the decoder tells them from PNG by their bytes.
TEST(WicDecoder, DecodesAJpegFrameAsWell) {
    const Bytes jpeg = encodeJpeg(0x20, 0x80, 0xE0);
    ASSERT_FALSE(jpeg.empty());
    const auto [ok, pixels, width, height] = decode(jpeg);
    ASSERT_TRUE(ok);
    EXPECT_EQ(width, 32u);
    EXPECT_EQ(height, 16u);
    ASSERT_EQ(pixels.size(), 32u * 16 * 4);
    // Lossy, so near the colour given; opaque.
    for (const auto& [at, expected] : {std::pair{0, 0x20}, {1, 0x80}, {2, 0xE0}, {3, 0xFF}})
        EXPECT_NEAR(pixels[static_cast<std::size_t>(at)], expected, 8) << at;
}

// A thread that is already in a single-threaded apartment cannot join the multithreaded one.
// It decodes in the apartment it has, and leaving must not tear that apartment down.
TEST(WicDecoder, AThreadInAnotherApartmentDecodesAndKeepsItsApartment) {
    std::thread thread([] {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        const bool entered = enterDecoderThread();
        EXPECT_FALSE(entered);
        Bytes pixels;
        std::uint32_t width = 0, height = 0;
        EXPECT_TRUE(decodeSnapshot(PngBuffer(Bytes(kValidPng)), pixels, width, height));
        EXPECT_EQ(pixels, kValidBgra);
        leaveDecoderThread(entered);
        APTTYPE type{};
        APTTYPEQUALIFIER qualifier{};
        ASSERT_EQ(CoGetApartmentType(&type, &qualifier), S_OK);
        EXPECT_TRUE(type == APTTYPE_STA || type == APTTYPE_MAINSTA) << type;
        CoUninitialize();
    });
    thread.join();
}

}  // namespace
