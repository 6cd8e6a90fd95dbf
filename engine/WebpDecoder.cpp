#include "engine/WebpDecoder.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "engine/ImageScaling.h"
#include "engine/PictureBudget.h"
#include "sys/Handles.h"

#include <webp/decode.h>
#include <webp/demux.h>

namespace {

struct AnimationFree {
    void operator()(WebPAnimDecoder* decoder) const { WebPAnimDecoderDelete(decoder); }
};
using AnimationOwner = std::unique_ptr<WebPAnimDecoder, AnimationFree>;

// The whole file: the library decodes from memory. A WebP is at most 4 GB by its own length field; one larger than
// the budget could not be decoded within it anyway.
bool ReadWholeFile(const wchar_t* path, std::vector<uint8_t>& data) {
    FileHandle file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    LARGE_INTEGER size{};
    if (!file || !GetFileSizeEx(file.Get(), &size) || static_cast<uint64_t>(size.QuadPart) > kPictureBudgetBytes / 2)
        return false;
    try {
        data.resize(static_cast<size_t>(size.QuadPart));
    } catch (const std::bad_alloc&) {
        return false;
    }
    size_t done = 0;
    while (done < data.size()) {
        const DWORD part = static_cast<DWORD>(std::min<size_t>(data.size() - done, 1u << 30));
        DWORD read = 0;
        if (!ReadFile(file.Get(), data.data() + done, part, &read, nullptr) || read == 0) return false;
        done += read;
    }
    return true;
}

// The first frame as the animation shows it: drawn on a transparent canvas at its offset.
bool DecodeFirstFrame(const std::vector<uint8_t>& data, int width, int height, std::vector<uint8_t>& pixels) {
    WebPAnimDecoderOptions options;
    if (!WebPAnimDecoderOptionsInit(&options)) return false;
    options.color_mode = MODE_BGRA;
    options.use_threads = 0;
    const WebPData whole{data.data(), data.size()};
    AnimationOwner decoder(WebPAnimDecoderNew(&whole, &options));
    WebPAnimInfo info{};
    if (!decoder || !WebPAnimDecoderGetInfo(decoder.get(), &info) || info.canvas_width != uint32_t(width) ||
        info.canvas_height != uint32_t(height) || info.frame_count == 0)
        return false;
    uint8_t* canvas = nullptr;
    int timestamp = 0;
    if (!WebPAnimDecoderGetNext(decoder.get(), &canvas, &timestamp) || !canvas) return false;
    std::memcpy(pixels.data(), canvas, pixels.size());
    return true;
}

}  // namespace

PictureDecode DecodeWebpFile(const wchar_t* path, const SizeList& sizes, IconJobFlags flags, ScaleSource& out) {
    out = ScaleSource();
    if (SniffPictureFile(path) != PictureFormat::Webp) return PictureDecode::NotPicture;
    std::vector<uint8_t> data;
    if (!ReadWholeFile(path, data)) return PictureDecode::Failed;
    WebPBitstreamFeatures features{};
    if (WebPGetFeatures(data.data(), data.size(), &features) != VP8_STATUS_OK || features.width <= 0 ||
        features.height <= 0)
        return PictureDecode::Failed;
    const int width = features.width, height = features.height;
    const int level = ReadLevel(width, height, sizes, flags);
    // The picture whole; an animation's decoder also keeps its canvas and the canvas before the frame.
    const uint64_t picture = uint64_t(width) * uint64_t(height) * 4;
    const uint64_t held =
        data.size() + picture * (features.has_animation ? 3 : 1) + RowReducer::HeldBytes(width, height, level);
    if (held > kPictureBudgetBytes) return PictureDecode::Failed;
    std::vector<uint8_t> pixels;
    try {
        pixels.resize(static_cast<size_t>(picture));
    } catch (const std::bad_alloc&) {
        return PictureDecode::Failed;
    }
    const bool decoded = features.has_animation ? DecodeFirstFrame(data, width, height, pixels)
                                                : WebPDecodeBGRAInto(data.data(), data.size(), pixels.data(),
                                                                     pixels.size(), width * 4) != nullptr;
    if (!decoded) return PictureDecode::Failed;
    std::vector<uint8_t>().swap(data);
    out = SourceFromPixels(std::move(pixels), width, height, level);
    return out.Valid() ? PictureDecode::Picture : PictureDecode::Failed;
}
