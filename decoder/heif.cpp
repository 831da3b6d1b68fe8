#include "decoders.h"

#include <algorithm>
#include <cstdio>
#include <dlfcn.h>
#include <libheif/heif.h>
#include <unistd.h>

namespace decode {

namespace {
// The functions used, from libheif's soname of the headers this was built with.
struct Heif
{
    decltype(&heif_init) init;
    decltype(&heif_context_alloc) context_alloc;
    decltype(&heif_context_free) context_free;
    decltype(&heif_context_read_from_memory_without_copy) read;
    decltype(&heif_context_get_primary_image_handle) primary;
    decltype(&heif_image_handle_release) handle_release;
    decltype(&heif_image_handle_get_width) handle_width;
    decltype(&heif_image_handle_get_height) handle_height;
    decltype(&heif_decode_image) decode;
    decltype(&heif_image_release) image_release;
    decltype(&heif_image_get_plane_readonly) plane;
    decltype(&heif_image_get_width) width;
    decltype(&heif_image_get_height) height;
};
Heif lib {};

// A phone's photo, however large, as a few hundred thousand bytes at most.
constexpr long largestFile = 64L << 20;

// What decoding takes for each pixel at most: the codec's planes and libheif's copy of them, up to
// 16 bits a sample and unsubsampled, its conversion to RGB, and the rows given back.
constexpr size_t bytesPerPixel = 24;

// libheif's own bound, or the memory this process is allowed, passed.
bool tooLarge(const heif_error &error)
{
    return error.code == heif_error_Memory_allocation_error
        || error.subcode == heif_suberror_Security_limit_exceeded;
}

// The picture RGB of WIDTH x HEIGHT, STRIDE bytes a row, made no larger than MOSTWIDTH x MOSTHEIGHT
// as PICTURE, its proportions kept, each pixel the mean of those it covers. Read in place: a copy
// of a 48-megapixel photo would take 144 MB more.
void fit(const uint8_t *rgb, int stride, int width, int height, int mostWidth, int mostHeight,
    Picture &picture)
{
    const double scale = mostWidth <= 0 || mostHeight <= 0
        ? 1.0
        : std::min(1.0, std::min(double(mostWidth) / width, double(mostHeight) / height));
    picture.width = std::max(1, int(width * scale));
    picture.height = std::max(1, int(height * scale));
    picture.rgb.resize(size_t(picture.width) * size_t(picture.height) * 3);
    for (int y = 0; y < picture.height; ++y) {
        const int fromY = int(size_t(y) * size_t(height) / size_t(picture.height));
        const int toY
            = std::max(fromY + 1, int(size_t(y + 1) * size_t(height) / size_t(picture.height)));
        for (int x = 0; x < picture.width; ++x) {
            const int fromX = int(size_t(x) * size_t(width) / size_t(picture.width));
            const int toX
                = std::max(fromX + 1, int(size_t(x + 1) * size_t(width) / size_t(picture.width)));
            unsigned long sum[3] = {};
            for (int sy = fromY; sy < toY; ++sy)
                for (int sx = fromX; sx < toX; ++sx)
                    for (int c = 0; c < 3; ++c)
                        sum[c] += rgb[size_t(sy) * size_t(stride) + size_t(sx) * 3 + size_t(c)];
            const auto count
                = static_cast<unsigned long>(toY - fromY) * static_cast<unsigned long>(toX - fromX);
            for (int c = 0; c < 3; ++c)
                picture.rgb[(size_t(y) * size_t(picture.width) + size_t(x)) * 3 + size_t(c)]
                    = uint8_t(sum[c] / count);
        }
    }
}
} // namespace

bool loadHeif(std::string *missing)
{
    void *handle = dlopen("libheif.so.1", RTLD_NOW | RTLD_LOCAL);
    *missing = "libheif1";
    const bool loaded = take(handle, "heif_init", lib.init)
        && take(handle, "heif_context_alloc", lib.context_alloc)
        && take(handle, "heif_context_free", lib.context_free)
        && take(handle, "heif_context_read_from_memory_without_copy", lib.read)
        && take(handle, "heif_context_get_primary_image_handle", lib.primary)
        && take(handle, "heif_image_handle_release", lib.handle_release)
        && take(handle, "heif_image_handle_get_width", lib.handle_width)
        && take(handle, "heif_image_handle_get_height", lib.handle_height)
        && take(handle, "heif_decode_image", lib.decode)
        && take(handle, "heif_image_release", lib.image_release)
        && take(handle, "heif_image_get_plane_readonly", lib.plane)
        && take(handle, "heif_image_get_width", lib.width)
        && take(handle, "heif_image_get_height", lib.height);
    // Its decoders are plugins from libheif 1.14 on, loaded from their folder here, while files
    // can still be opened.
    return loaded && lib.init(nullptr).code == heif_error_Ok;
}

Result withHeif(int fd, int width, int height, Picture &picture, std::string *missing)
{
    std::vector<char> bytes;
    char block[65536];
    for (ssize_t n; (n = read(fd, block, sizeof block)) > 0;) {
        bytes.insert(bytes.end(), block, block + n);
        if (long(bytes.size()) > largestFile)
            return Result::Broken;
    }
    heif_context *context = lib.context_alloc();
    heif_image_handle *handle = nullptr;
    heif_image *image = nullptr;
    Result result = Result::Broken;
    if (!context)
        return result;
    heif_error error = lib.read(context, bytes.data(), bytes.size(), nullptr);
    if (error.code == heif_error_Ok)
        error = lib.primary(context, &handle);
    if (error.code == heif_error_Ok) {
        picture.width = lib.handle_width(handle);
        picture.height = lib.handle_height(handle);
        if (!allowMemory(size_t(std::max(0, picture.width)) * size_t(std::max(0, picture.height))
                * bytesPerPixel))
            result = Result::TooLarge;
    }
    // Turned and mirrored as the file says (its irot and imir), which is how the phone showed it.
    if (error.code == heif_error_Ok && result != Result::TooLarge) {
        error
            = lib.decode(handle, &image, heif_colorspace_RGB, heif_chroma_interleaved_RGB, nullptr);
        int stride = 0;
        const uint8_t *rgb = image ? lib.plane(image, heif_channel_interleaved, &stride) : nullptr;
        const int decodedWidth = image ? lib.width(image, heif_channel_interleaved) : 0;
        const int decodedHeight = image ? lib.height(image, heif_channel_interleaved) : 0;
        if (error.code == heif_error_Ok && rgb && decodedWidth > 0 && decodedHeight > 0) {
            fit(rgb, stride, decodedWidth, decodedHeight, width, height, picture);
            result = Result::Decoded;
        }
    }
    if (error.code != heif_error_Ok && tooLarge(error)) {
        result = Result::TooLarge; // past libheif's own bound, which may come before the size
    } else if (error.code == heif_error_Unsupported_feature
        && error.subcode == heif_suberror_Unsupported_codec) {
        // libheif is there, the decoder for this file's codec is not (a plugin of its own later
        // on).
        *missing = "libheif-plugin-libde265 libheif-plugin-dav1d";
        result = Result::Missing;
    }
    if (image)
        lib.image_release(image);
    if (handle)
        lib.handle_release(handle);
    lib.context_free(context);
    return result;
}

} // namespace decode
