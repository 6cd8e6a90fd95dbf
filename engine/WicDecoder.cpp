#include "engine/WicDecoder.h"

#include <windows.h>
#include <wincodec.h>

#include <algorithm>
#include <new>
#include <vector>

#include "engine/ImageScaling.h"
#include "engine/PictureBudget.h"
#include "sys/Handles.h"

namespace {

// Rows converted at a time.
constexpr UINT kStripRows = 32;

}  // namespace

PictureDecode DecodeWicFile(const wchar_t* path, const SizeList& sizes, IconJobFlags flags, ScaleSource& out) {
    out = ScaleSource();
    if (!path) return PictureDecode::NotPicture;
    // The decoding threads run in an apartment already; a thread without one gets one for this call.
    const ComScope com;
    ComPtr<IWICImagingFactory> factory;
    if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                factory.ReceiveVoid())))
        return PictureDecode::NotPicture;
    ComPtr<IWICBitmapDecoder> decoder;
    if (FAILED(factory->CreateDecoderFromFilename(path, nullptr, GENERIC_READ, WICDecodeMetadataCacheOnDemand,
                                                  decoder.Receive())))
        return PictureDecode::NotPicture;
    // A codec took the file: from here on it is a picture, decoded or failed.
    ComPtr<IWICBitmapFrameDecode> frame;
    UINT width = 0, height = 0;
    if (FAILED(decoder->GetFrame(0, frame.Receive())) || FAILED(frame->GetSize(&width, &height)) || width == 0 ||
        height == 0 || width > INT32_MAX || height > INT32_MAX)
        return PictureDecode::Failed;
    const int level = ReadLevel(static_cast<int>(width), static_cast<int>(height), sizes, flags);
    // A codec may hold the picture whole while the program reads it.
    const uint64_t rowBytes = uint64_t(width) * 4;
    if (rowBytes * height + rowBytes * kStripRows +
            RowReducer::HeldBytes(static_cast<int>(width), static_cast<int>(height), level) >
        kPictureBudgetBytes)
        return PictureDecode::Failed;
    ComPtr<IWICFormatConverter> converter;
    if (FAILED(factory->CreateFormatConverter(converter.Receive())) ||
        FAILED(converter->Initialize(frame.Get(), GUID_WICPixelFormat32bppBGRA, WICBitmapDitherTypeNone, nullptr, 0.0,
                                     WICBitmapPaletteTypeCustom)))
        return PictureDecode::Failed;
    RowReducer reducer;
    std::vector<uint8_t> strip;
    try {
        strip.resize(static_cast<size_t>(rowBytes) * std::min(kStripRows, height));
    } catch (const std::bad_alloc&) {
        return PictureDecode::Failed;
    }
    if (!reducer.Start(static_cast<int>(width), static_cast<int>(height), level)) return PictureDecode::Failed;
    for (UINT top = 0; top < height; top += kStripRows) {
        const UINT rows = std::min(kStripRows, height - top);
        const WICRect part{0, static_cast<INT>(top), static_cast<INT>(width), static_cast<INT>(rows)};
        if (FAILED(converter->CopyPixels(&part, static_cast<UINT>(rowBytes), static_cast<UINT>(rowBytes) * rows,
                                         strip.data())))
            return PictureDecode::Failed;
        for (UINT r = 0; r < rows; ++r)
            reducer.TakeRow(strip.data() + static_cast<size_t>(r) * static_cast<size_t>(rowBytes));
    }
    out = reducer.Finish();
    return out.Valid() ? PictureDecode::Picture : PictureDecode::Failed;
}
