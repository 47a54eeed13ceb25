// The Windows decoder: each snapshot goes into a movable memory block with a stream on it
// and through a fresh Windows Imaging Component factory to 32-bit BGRA.
#include <windows.h>
#include <objidl.h>
#include <wincodec.h>
#include <wrl/client.h>

#include <cstring>
#include <new>

#include "pipeline/decoder.h"

using Microsoft::WRL::ComPtr;

namespace {

// Same limits as the Linux decoder: a snapshot is 768 x 512 at most a few times over; an
// image claiming more is not a page and would only exhaust the simulator's memory.
constexpr std::uint32_t kMaxImageSide = 16384;
constexpr std::uint64_t kMaxImageBytes = 256ull * 1024 * 1024;

// The explicit ids keep the decoder independent of which SDK's import libraries define them.
constexpr CLSID kWicImagingFactoryClass = {
    0xcacaf262, 0x9370, 0x4615, {0xa1, 0x3b, 0x9f, 0x55, 0x39, 0xda, 0x4c, 0x0a}};
constexpr IID kWicImagingFactoryInterface = {
    0xec5ec8a9, 0xc395, 0x4314, {0x9c, 0x77, 0x54, 0xd7, 0xa9, 0x35, 0xff, 0x70}};
constexpr GUID kWicPixelFormat32bppBGRA = {
    0x6fddc324, 0x4e03, 0x4bfe, {0xb1, 0x85, 0x3d, 0x77, 0x76, 0x8d, 0xc9, 0x0f}};

// Decodes the PNG in `stream` into `pixels`; every COM object is released on every path
// by its ComPtr, and the outputs are written only on success.
bool DecodePng(IStream* stream, std::vector<std::uint8_t>& pixels, std::uint32_t& width, std::uint32_t& height) {
    const LARGE_INTEGER start{};
    if (FAILED(stream->Seek(start, STREAM_SEEK_SET, nullptr))) return false;

    ComPtr<IWICImagingFactory> factory;
    if (FAILED(CoCreateInstance(kWicImagingFactoryClass, nullptr, CLSCTX_INPROC_SERVER, kWicImagingFactoryInterface,
                                reinterpret_cast<void**>(factory.GetAddressOf()))))
        return false;

    ComPtr<IWICBitmapDecoder> decoder;
    if (FAILED(factory->CreateDecoderFromStream(stream, nullptr, WICDecodeMetadataCacheOnLoad, decoder.GetAddressOf())))
        return false;

    ComPtr<IWICBitmapFrameDecode> frame;
    if (FAILED(decoder->GetFrame(0, frame.GetAddressOf()))) return false;

    UINT frameWidth = 0;
    UINT frameHeight = 0;
    if (FAILED(frame->GetSize(&frameWidth, &frameHeight)) || frameWidth == 0 || frameHeight == 0) return false;
    const std::uint64_t byteCount = std::uint64_t{frameWidth} * frameHeight * 4;
    if (frameWidth > kMaxImageSide || frameHeight > kMaxImageSide || byteCount > kMaxImageBytes) return false;

    ComPtr<IWICFormatConverter> converter;
    if (FAILED(factory->CreateFormatConverter(converter.GetAddressOf()))) return false;
    if (FAILED(converter->Initialize(frame.Get(), kWicPixelFormat32bppBGRA, WICBitmapDitherTypeNone, nullptr, 0.0,
                                     WICBitmapPaletteTypeCustom)))
        return false;

    std::vector<std::uint8_t> decoded;
    try {
        decoded.assign(static_cast<std::size_t>(byteCount), 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (FAILED(converter->CopyPixels(nullptr, frameWidth * 4, static_cast<UINT>(decoded.size()), decoded.data())))
        return false;

    pixels.swap(decoded);
    width = frameWidth;
    height = frameHeight;
    return true;
}

}  // namespace

bool enterDecoderThread() {
    // WIC objects are free-threaded, so an apartment the thread already has serves as well
    // when this fails; but only a successful call may be balanced, or the thread's own
    // apartment would be torn down under it.
    return SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
}

void leaveDecoderThread(bool entered) {
    if (entered) CoUninitialize();
}

bool decodeSnapshot(const PngBuffer& snapshot, std::vector<std::uint8_t>& pixels, std::uint32_t& width,
                    std::uint32_t& height) {
    if (snapshot.empty()) return false;

    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, snapshot.size());
    if (memory == nullptr) return false;
    void* block = GlobalLock(memory);
    if (block == nullptr) {
        GlobalFree(memory);
        return false;
    }
    std::memcpy(block, snapshot.bytes.data(), snapshot.size());
    GlobalUnlock(memory);

    // From here the stream owns the block and frees it with its last reference.
    ComPtr<IStream> stream;
    if (FAILED(CreateStreamOnHGlobal(memory, TRUE, stream.GetAddressOf()))) {
        // A stream handed back despite the failure owns the block already: let it go
        // instead of freeing the block twice.
        if (stream)
            stream.Reset();
        else
            GlobalFree(memory);
        return false;
    }
    return DecodePng(stream.Get(), pixels, width, height);
}
