#include "ui/ToolkitImages.h"

#include "engine/ImageScaling.h"
#include "sys/Handles.h"

GdiplusImage loadPngResource(HMODULE module, int number, int width, int height) {
    HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(number), L"IMAGE");
    const DWORD size = resource ? SizeofResource(module, resource) : 0;
    HGLOBAL loaded = size ? LoadResource(module, resource) : nullptr;
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    if (!bytes) return GdiplusImage();
    ComPtr<IStream> stream;
    if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, stream.Receive()))) return GdiplusImage();
    ULARGE_INTEGER streamSize;
    streamSize.QuadPart = size;
    ULONG written = 0;
    if (FAILED(stream->SetSize(streamSize)) || FAILED(stream->Write(bytes, size, &written)) || written != size)
        return GdiplusImage();
    LARGE_INTEGER start = {};
    stream->Seek(start, STREAM_SEEK_SET, nullptr);
    GdiplusImage decoded = DecodeImageStream(stream.Get());
    if (!decoded) return GdiplusImage();
    if (decoded.Width() == width && decoded.Height() == height) return decoded;
    return ScaledArgbCopy(decoded, width, height);
}

HBITMAP bitmapFromImage(const GdiplusImage& image, int width, int height) {
    if (!image || width <= 0 || height <= 0) return nullptr;
    WorkingImage canvas = CreateWorkingImage(width, height);
    if (!canvas || !DrawImageScaled(image, canvas, width, height)) return nullptr;
    HBITMAP bitmap = nullptr;
    if (gdip::GdipCreateHBITMAPFromBitmap(canvas.Bitmap(), &bitmap, 0) != kGpOk) return nullptr;
    return bitmap;
}
