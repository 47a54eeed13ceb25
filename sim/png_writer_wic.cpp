#include "png_writer.h"

#include <windows.h>
#include <objbase.h>
#include <wincodec.h>
#include <wrl/client.h>

#include "wic_png_encoder.h"

using Microsoft::WRL::ComPtr;

namespace xpsim {
namespace {

std::wstring wide(const std::string& text) {
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    if (size <= 1) return {};
    std::wstring out(static_cast<std::size_t>(size - 1), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, out.data(), size);
    return out;
}

HRESULT encode(const std::wstring& path, const std::vector<std::uint8_t>& bgra, int width, int height) {
    ComPtr<IWICImagingFactory> factory;
    HRESULT hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                  reinterpret_cast<void**>(factory.GetAddressOf()));
    if (FAILED(hr)) return hr;
    ComPtr<IWICStream> stream;
    if (FAILED(hr = factory->CreateStream(stream.GetAddressOf()))) return hr;
    if (FAILED(hr = stream->InitializeFromFilename(path.c_str(), GENERIC_WRITE))) return hr;
    return wic_png::encodeBgra(factory.Get(), stream.Get(), bgra.data(), bgra.size(), width, height);
}

}  // namespace

bool writePng(const std::string& path, const std::vector<std::uint8_t>& rgba, int width, int height,
              std::string& error) {
    if (width <= 0 || height <= 0 || rgba.size() != static_cast<std::size_t>(width) * height * 4) {
        error = "no pixels to write";
        return false;
    }
    std::vector<std::uint8_t> bgra(rgba);
    for (std::size_t i = 0; i < bgra.size(); i += 4) std::swap(bgra[i], bgra[i + 2]);

    // WIC needs COM on this thread. A plugin may have it already, in either apartment;
    // only an initialisation made here is undone here.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const HRESULT hr = encode(wide(path), bgra, width, height);
    if (SUCCEEDED(com)) CoUninitialize();
    if (FAILED(hr)) {
        char text[32];
        wsprintfA(text, "0x%08lX", static_cast<unsigned long>(hr));
        error = "cannot write " + path + ": WIC error " + text;
        return false;
    }
    return true;
}

}  // namespace xpsim
