// png_pixels FILE X Y [X Y ...]: prints the colour of each pixel of a PNG as rrggbb, one line
// per pixel (x from the left, y from the top). For the xpsim-wine test, whose Linux side has
// no PNG reader; run under Wine, it reads the file with WIC as xpsim.exe wrote it.
#include <windows.h>
#include <shellapi.h>
#include <wincodec.h>
#include <wrl/client.h>

#include <cstdio>
#include <cwchar>

using Microsoft::WRL::ComPtr;

namespace {

int readPixels(int count, wchar_t** arguments) {
    ComPtr<IWICImagingFactory> factory;
    ComPtr<IWICBitmapDecoder> decoder;
    ComPtr<IWICBitmapFrameDecode> frame;
    ComPtr<IWICBitmapSource> rgba;
    if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&factory))) ||
        FAILED(factory->CreateDecoderFromFilename(arguments[1], nullptr, GENERIC_READ, WICDecodeMetadataCacheOnDemand,
                                                  &decoder)) ||
        FAILED(decoder->GetFrame(0, &frame)) ||
        FAILED(WICConvertBitmapSource(GUID_WICPixelFormat32bppRGBA, frame.Get(), &rgba))) {
        std::fprintf(stderr, "png_pixels: cannot read %ls as a PNG\n", arguments[1]);
        return 1;
    }
    UINT width = 0, height = 0;
    rgba->GetSize(&width, &height);
    for (int i = 2; i + 1 < count; i += 2) {
        const int x = static_cast<int>(std::wcstol(arguments[i], nullptr, 10));
        const int y = static_cast<int>(std::wcstol(arguments[i + 1], nullptr, 10));
        const WICRect one{x, y, 1, 1};
        BYTE pixel[4] = {};
        if (x < 0 || y < 0 || static_cast<UINT>(x) >= width || static_cast<UINT>(y) >= height ||
            FAILED(rgba->CopyPixels(&one, 4, 4, pixel))) {
            std::fprintf(stderr, "png_pixels: no pixel (%d, %d) in a %ux%u picture\n", x, y, width, height);
            return 1;
        }
        std::printf("%02x%02x%02x\n", pixel[0], pixel[1], pixel[2]);
    }
    return 0;
}

}  // namespace

int main() {
    // The file name may be in any script, so it comes from the wide command line.
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (arguments == nullptr || count < 4 || count % 2 != 0) {
        std::fprintf(stderr, "usage: png_pixels FILE X Y [X Y ...]\n");
        return 64;
    }
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 1;
    const int status = readPixels(count, arguments);
    CoUninitialize();
    LocalFree(arguments);
    return status;
}
