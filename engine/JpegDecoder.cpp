#include "engine/JpegDecoder.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <limits>
#include <memory>
#include <new>

#include "engine/ImageScaling.h"
#include "engine/Imaging.h"
#include "engine/PictureBudget.h"
#include "engine/PngDecoder.h"
#include "engine/StbDecoder.h"
#include "engine/WebpDecoder.h"
#include "engine/WicDecoder.h"

// jpeglib.h needs FILE and size_t declared before it.
#include <jerror.h>
#include <jpeglib.h>

namespace {

// The decoder's own buffers (a progressive file keeps every coefficient until its last scan) and the plane are each
// held to this; beyond it the picture is refused as too large rather than failing somewhere else later.
// The plane may be larger in a 64-bit process, which has no address space to run out of (see ImageScaling.cpp).
constexpr long kMaxDecoderBytes = 1L << 30;
#ifdef _WIN64
constexpr uint64_t kMaxPlaneBytes = 4ull << 30;
#else
constexpr uint64_t kMaxPlaneBytes = 1ull << 30;
#endif
// A progressive file passes over all its coefficients once per scan; real encoders write about ten.
constexpr int kMaxScans = 500;

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};
using FileOwner = std::unique_ptr<FILE, FileCloser>;

// The library's state with the jump target its error handler returns to. Held on the heap, so nothing the jump
// skips over has a destructor and nothing it returns to lives in a register.
struct DecodeState {
    jpeg_decompress_struct info{};
    jpeg_error_mgr errors{};
    jpeg_progress_mgr progress{};
    jmp_buf jump;
    std::vector<JSAMPROW> rows;
    JpegStatus failure = JpegStatus::Corrupt;
    bool created = false;
};

DecodeState& StateOf(j_common_ptr common) {
    return *reinterpret_cast<DecodeState*>(common->client_data);
}

// Called only from inside the library (C frames); the jump lands in DecodeStream.
[[noreturn]] void Fail(j_common_ptr common, JpegStatus status) {
    DecodeState& state = StateOf(common);
    state.failure = status;
    std::longjmp(state.jump, 1);
}

// The library's default handler ends the process; this one refuses the file instead.
void OnError(j_common_ptr common) {
    const int code = common->err->msg_code;
    Fail(common,
         code == JERR_OUT_OF_MEMORY || code == JERR_NO_BACKING_STORE ? JpegStatus::OutOfMemory : JpegStatus::Corrupt);
}

// Warnings about damaged entropy data would otherwise be "repaired" with grey blocks; a damaged picture is refused.
// Harmless oddities (stray bytes between markers, an unknown JFIF revision) are let through.
void OnMessage(j_common_ptr common, int level) {
    if (level >= 0) return;
    switch (common->err->msg_code) {
        case JWRN_JPEG_EOF:
        case JWRN_HIT_MARKER:
        case JWRN_HUFF_BAD_CODE:
        case JWRN_MUST_RESYNC:
        case JWRN_BOGUS_PROGRESSION:
        case JWRN_NOT_SEQUENTIAL:
            Fail(common, JpegStatus::Corrupt);
        default:
            break;
    }
}

void OnProgress(j_common_ptr common) {
    auto* info = reinterpret_cast<j_decompress_ptr>(common);
    if (info->input_scan_number > kMaxScans) Fail(common, JpegStatus::Corrupt);
}

// A progressive file keeps every DCT coefficient of the picture (two bytes each) until its last scan; a sequential
// one decodes a row of blocks at a time.
uint64_t CoefficientBytes(const jpeg_decompress_struct& info) {
    if (!info.progressive_mode) return 0;
    uint64_t bytes = 0;
    for (int c = 0; c < info.num_components; ++c)
        bytes += uint64_t(info.comp_info[c].width_in_blocks) * info.comp_info[c].height_in_blocks * DCTSIZE2 * 2;
    return bytes;
}

// The one function that sets the jump target. Everything it owns is created before setjmp; after a jump only the
// library's state is destroyed.
JpegStatus DecodeStream(FILE* file, JpegShiftChooser chooseShift, const void* context, JpegPicture& out) {
    auto state = std::make_unique<DecodeState>();
    jpeg_decompress_struct& info = state->info;
    std::vector<JSAMPROW>& rows = state->rows;
    if (setjmp(state->jump)) {
        if (state->created) jpeg_destroy_decompress(&info);
        out = JpegPicture();
        return state->failure;
    }
    info.err = jpeg_std_error(&state->errors);
    state->errors.error_exit = OnError;
    state->errors.emit_message = OnMessage;
    info.client_data = state.get();
    jpeg_create_decompress(&info);
    state->created = true;
    info.mem->max_memory_to_use = kMaxDecoderBytes;
    state->progress.progress_monitor = OnProgress;
    info.progress = &state->progress;
    jpeg_stdio_src(&info, file);
    jpeg_read_header(&info, TRUE);

    if (info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK) {
        jpeg_destroy_decompress(&info);
        return JpegStatus::Unsupported;
    }
    out.width = static_cast<int>(info.image_width);
    out.height = static_cast<int>(info.image_height);
    int shift = chooseShift ? chooseShift(out.width, out.height, context) : 0;
    shift = shift < 0 ? 0 : shift > kMaxJpegShift ? kMaxJpegShift : shift;
    out.shift = shift;
    info.scale_num = 1;
    info.scale_denom = 1u << shift;
    info.out_color_space = JCS_EXT_BGRA;
    info.dct_method = JDCT_ISLOW;
    jpeg_calc_output_dimensions(&info);
    out.planeWidth = static_cast<int>(info.output_width);
    out.planeHeight = static_cast<int>(info.output_height);
    const uint64_t stride = static_cast<uint64_t>(out.planeWidth) * 4;
    const uint64_t planeBytes = stride * static_cast<uint64_t>(out.planeHeight);
    if (planeBytes > kMaxPlaneBytes || planeBytes + CoefficientBytes(info) > kPictureBudgetBytes)
        Fail(reinterpret_cast<j_common_ptr>(&info), JpegStatus::OutOfMemory);
    bool allocated = true;
    try {
        out.pixels.resize(static_cast<size_t>(stride * out.planeHeight));
        rows.resize(static_cast<size_t>(out.planeHeight));
    } catch (const std::bad_alloc&) {
        allocated = false;
    }
    if (!allocated) Fail(reinterpret_cast<j_common_ptr>(&info), JpegStatus::OutOfMemory);
    for (int y = 0; y < out.planeHeight; ++y)
        rows[static_cast<size_t>(y)] = out.pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(stride);

    jpeg_start_decompress(&info);
    while (info.output_scanline < info.output_height) {
        const JDIMENSION done = info.output_scanline;
        if (jpeg_read_scanlines(&info, rows.data() + done, info.output_height - done) == 0)
            Fail(reinterpret_cast<j_common_ptr>(&info), JpegStatus::Corrupt);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return JpegStatus::Decoded;
}

FileOwner OpenJpeg(const wchar_t* path) {
    FileOwner file(_wfopen(path, L"rb"));
    if (!file) return file;
    unsigned char head[3] = {};
    const bool jpeg = std::fread(head, 1, 3, file.get()) == 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF;
    if (!jpeg || std::fseek(file.get(), 0, SEEK_SET) != 0) file.reset();
    return file;
}

}  // namespace

bool HasJpegSignature(const wchar_t* path) {
    return path && OpenJpeg(path) != nullptr;
}

JpegStatus DecodeJpegFile(const wchar_t* path, JpegShiftChooser chooseShift, const void* context, JpegPicture& out) {
    out = JpegPicture();
    if (!path) return JpegStatus::NotJpeg;
    FileOwner file = OpenJpeg(path);
    if (!file) return JpegStatus::NotJpeg;
    return DecodeStream(file.get(), chooseShift, context, out);
}

namespace {

struct ShiftPlan {
    const SizeList* sizes;
    IconJobFlags flags;
};

// The deepest reduction every size allows, at most limit.
int SmallestReduction(int width, int height, const ShiftPlan& plan, int limit) {
    if (plan.sizes->empty()) return 0;
    int shift = limit;
    for (int size : *plan.sizes)
        shift = std::min(shift, ReductionLevel(width, height, size, plan.flags));
    return shift;
}

int SmallestJpegReduction(int width, int height, const void* context) {
    return SmallestReduction(width, height, *static_cast<const ShiftPlan*>(context), kMaxJpegShift);
}

// Whether the picture the file declares can be decoded by the imaging library and scaled within the budget. The
// program copies the picture whole when a size needs it at full scale, else only the reduction it reads the picture
// into (8 bytes a pixel, at most 2^8 times smaller on each side). A file whose header can't be read passes.
bool FitsBudget(const wchar_t* path, const ShiftPlan& plan) {
    DeclaredPicture declared;
    if (!ReadDeclaredPicture(path, declared)) return true;
    constexpr uint32_t kMaxSide = static_cast<uint32_t>(std::numeric_limits<int>::max());
    if (declared.width > kMaxSide || declared.height > kMaxSide) return false;
    const int width = static_cast<int>(declared.width);
    const int height = static_cast<int>(declared.height);
    const int level = std::min(SmallestReduction(width, height, plan, std::numeric_limits<int>::max()), kMaxStripLevel);
    const uint64_t block = uint64_t(1) << level;
    const uint64_t copyPixels =
        level == 0 ? uint64_t(declared.width) * declared.height
                   : 2 * ((declared.width + block - 1) / block) * ((declared.height + block - 1) / block);
    return ImagingPeakBytes(declared, copyPixels) <= kPictureBudgetBytes;
}

}  // namespace

namespace {

// JPEG first; one this decoder leaves alone (CMYK) goes on to the imaging libraries.
PictureDecode DecodeJpeg(const wchar_t* path, const ShiftPlan& plan, ScaleSource& out) {
    JpegPicture jpeg;
    switch (DecodeJpegFile(path, SmallestJpegReduction, &plan, jpeg)) {
        case JpegStatus::Decoded:
            out = ScaleSource(std::move(jpeg.pixels), jpeg.width, jpeg.height, jpeg.shift);
            return out.Valid() ? PictureDecode::Picture : PictureDecode::Failed;
        case JpegStatus::Corrupt:
        case JpegStatus::OutOfMemory:
            return PictureDecode::Failed;
        case JpegStatus::NotJpeg:
        case JpegStatus::Unsupported:
            break;
    }
    return PictureDecode::NotPicture;
}

PictureDecode DecodeWithImaging(const wchar_t* path, const ShiftPlan& plan, ScaleSource& out) {
    if (!FitsBudget(path, plan)) return PictureDecode::Failed;
    GdiplusImage picture = DecodeImageFile(path);
    if (picture && picture.LastStatus() == kGpOk) {
        const int level = SmallestReduction(picture.Width(), picture.Height(), plan, std::numeric_limits<int>::max());
        out = ScaleSource(std::move(picture), level);
        return out.Valid() ? PictureDecode::Picture : PictureDecode::Failed;
    }
    // The imaging library answers OutOfMemory for a picture too large to decode, not for a file that is no picture.
    return picture.LastStatus() == Gdiplus::OutOfMemory ? PictureDecode::Failed : PictureDecode::NotPicture;
}

}  // namespace

PictureDecode DecodePictureFile(const wchar_t* path, const SizeList& sizes, IconJobFlags flags, ScaleSource& out) {
    out = ScaleSource();
    const PictureFormat format = SniffPictureFile(path);
    switch (format) {
        case PictureFormat::Png:
            return DecodePngFile(path, sizes, flags, out);
        case PictureFormat::Webp:
            return DecodeWebpFile(path, sizes, flags, out);
        case PictureFormat::Tga:
        case PictureFormat::Psd:
            return DecodeStbFile(path, sizes, flags, out);
        default:
            break;
    }
    const ShiftPlan plan{&sizes, flags};
    if (format == PictureFormat::Jpeg) {
        const PictureDecode jpeg = DecodeJpeg(path, plan, out);
        if (jpeg != PictureDecode::NotPicture) return jpeg;
    }
    const PictureDecode imaging = DecodeWithImaging(path, plan, out);
    // An icon directory the imaging library refuses is the icon readers' to judge.
    if (imaging != PictureDecode::NotPicture || format == PictureFormat::Icon) return imaging;
    // The imaging component is for the formats the imaging library doesn't know. One it knows and refused is
    // damaged, and is kept from the component's decoders: Wine's GIF decoder reads a GIF without any colour table
    // through a null palette.
    if (format != PictureFormat::Unknown && format != PictureFormat::Dds) return PictureDecode::Failed;
    const PictureDecode wic = DecodeWicFile(path, sizes, flags, out);
    if (wic != PictureDecode::NotPicture) return wic;
    return format == PictureFormat::Unknown ? PictureDecode::NotPicture : PictureDecode::Failed;
}
