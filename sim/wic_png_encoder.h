// BGRA pixels to a PNG in a stream with WIC. Shared by xpsim's Windows screenshots and the
// stand-in WebView2 loader's snapshots; both run it on a thread that has COM.
#pragma once

#include <windows.h>
#include <wincodec.h>
#include <wrl/client.h>

#include <cstddef>
#include <cstdint>

namespace wic_png {

inline HRESULT encodeBgra(IWICImagingFactory* factory, IStream* stream, const std::uint8_t* bgra, std::size_t size,
                          int width, int height) {
    using Microsoft::WRL::ComPtr;
    HRESULT hr;
    ComPtr<IWICBitmapEncoder> encoder;
    if (FAILED(hr = factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, encoder.GetAddressOf()))) return hr;
    if (FAILED(hr = encoder->Initialize(stream, WICBitmapEncoderNoCache))) return hr;
    ComPtr<IWICBitmapFrameEncode> frame;
    ComPtr<IPropertyBag2> options;
    if (FAILED(hr = encoder->CreateNewFrame(frame.GetAddressOf(), options.GetAddressOf()))) return hr;
    if (FAILED(hr = frame->Initialize(options.Get()))) return hr;
    if (FAILED(hr = frame->SetSize(width, height))) return hr;
    WICPixelFormatGUID format = GUID_WICPixelFormat32bppBGRA;
    if (FAILED(hr = frame->SetPixelFormat(&format))) return hr;
    if (!IsEqualGUID(format, GUID_WICPixelFormat32bppBGRA)) return E_UNEXPECTED;
    if (FAILED(hr = frame->WritePixels(height, width * 4, static_cast<UINT>(size), const_cast<BYTE*>(bgra)))) return hr;
    if (FAILED(hr = frame->Commit())) return hr;
    return encoder->Commit();
}

}  // namespace wic_png
