#include "decoders.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
}
#include <cstring>
#include <dlfcn.h>
#include <unistd.h>

namespace decode {

namespace {
#define NUMERI_SONAME(lib, major) "lib" #lib ".so." NUMERI_STR(major)
#define NUMERI_STR(x) NUMERI_STR2(x)
#define NUMERI_STR2(x) #x

// The functions used, from the very libraries whose headers this was built with: their sonames
// change with each major version, as Debian's package names do.
struct Ffmpeg
{
    decltype(&avformat_alloc_context) alloc_context;
    decltype(&avformat_open_input) open_input;
    decltype(&avformat_find_stream_info) find_stream_info;
    decltype(&av_find_best_stream) find_best_stream;
    decltype(&av_read_frame) read_frame;
    decltype(&avformat_close_input) close_input;
    decltype(&avio_alloc_context) avio_alloc;
    decltype(&avio_context_free) avio_free;
    decltype(&avcodec_alloc_context3) codec_alloc;
    decltype(&avcodec_parameters_to_context) parameters_to_context;
    decltype(&avcodec_open2) codec_open;
    decltype(&avcodec_send_packet) send_packet;
    decltype(&avcodec_receive_frame) receive_frame;
    decltype(&avcodec_free_context) codec_free;
    decltype(&av_packet_alloc) packet_alloc;
    decltype(&av_packet_free) packet_free;
    decltype(&av_packet_unref) packet_unref;
    decltype(&av_frame_alloc) frame_alloc;
    decltype(&av_frame_free) frame_free;
    decltype(&av_malloc) malloc;
    decltype(&av_freep) freep;
    decltype(&av_log_set_level) log_set_level;
};
Ffmpeg ff {};

int readFd(void *opaque, uint8_t *buffer, int size)
{
    const ssize_t n = read(*static_cast<int *>(opaque), buffer, size_t(size));
    return n > 0 ? int(n) : n == 0 ? AVERROR_EOF : AVERROR(EIO);
}

int64_t seekFd(void *opaque, int64_t offset, int whence)
{
    const int fd = *static_cast<int *>(opaque);
    if (whence == AVSEEK_SIZE) {
        const off_t here = lseek(fd, 0, SEEK_CUR);
        const off_t end = lseek(fd, 0, SEEK_END);
        lseek(fd, here, SEEK_SET);
        return end;
    }
    return lseek(fd, offset, whence & ~AVSEEK_FORCE);
}

// One decoded frame into the mix, whatever sample type the decoder gave.
void addFrame(const AVFrame *frame, int channels, Mono &sound)
{
    const auto format = AVSampleFormat(frame->format);
    const bool planar = format >= AV_SAMPLE_FMT_U8P && format <= AV_SAMPLE_FMT_DBLP;
    const auto at = [&](int c, int i) -> float {
        const uint8_t *plane = frame->extended_data[planar ? c : 0];
        const int index = planar ? i : i * channels + c;
        switch (format) {
        case AV_SAMPLE_FMT_U8:
        case AV_SAMPLE_FMT_U8P:
            return (plane[index] - 128) / 128.0f;
        case AV_SAMPLE_FMT_S16:
        case AV_SAMPLE_FMT_S16P:
            return reinterpret_cast<const int16_t *>(plane)[index] / 32768.0f;
        case AV_SAMPLE_FMT_S32:
        case AV_SAMPLE_FMT_S32P:
            return float(reinterpret_cast<const int32_t *>(plane)[index] / 2147483648.0);
        case AV_SAMPLE_FMT_FLT:
        case AV_SAMPLE_FMT_FLTP:
            return reinterpret_cast<const float *>(plane)[index];
        case AV_SAMPLE_FMT_DBL:
        case AV_SAMPLE_FMT_DBLP:
            return float(reinterpret_cast<const double *>(plane)[index]);
        default:
            return 0;
        }
    };
    for (int i = 0; i < frame->nb_samples; ++i) {
        float sum = 0;
        for (int c = 0; c < channels; ++c)
            sum += at(c, i);
        sound.add(sum / float(channels));
    }
}
} // namespace

bool loadFfmpeg(std::string *missing)
{
    const char *override = std::getenv("NUMERI_LIBAVFORMAT"); // a test's stand-in for "not there"
    void *format = dlopen(override ? override : NUMERI_SONAME(avformat, LIBAVFORMAT_VERSION_MAJOR),
        RTLD_NOW | RTLD_LOCAL);
    void *codec
        = format ? dlopen(NUMERI_SONAME(avcodec, LIBAVCODEC_VERSION_MAJOR), RTLD_NOW) : nullptr;
    void *util = codec ? dlopen(NUMERI_SONAME(avutil, LIBAVUTIL_VERSION_MAJOR), RTLD_NOW) : nullptr;
    *missing = "libavformat" NUMERI_STR(LIBAVFORMAT_VERSION_MAJOR);
    return take(format, "avformat_alloc_context", ff.alloc_context)
        && take(format, "avformat_open_input", ff.open_input)
        && take(format, "avformat_find_stream_info", ff.find_stream_info)
        && take(format, "av_find_best_stream", ff.find_best_stream)
        && take(format, "av_read_frame", ff.read_frame)
        && take(format, "avformat_close_input", ff.close_input)
        && take(format, "avio_alloc_context", ff.avio_alloc)
        && take(format, "avio_context_free", ff.avio_free)
        && take(codec, "avcodec_alloc_context3", ff.codec_alloc)
        && take(codec, "avcodec_parameters_to_context", ff.parameters_to_context)
        && take(codec, "avcodec_open2", ff.codec_open)
        && take(codec, "avcodec_send_packet", ff.send_packet)
        && take(codec, "avcodec_receive_frame", ff.receive_frame)
        && take(codec, "avcodec_free_context", ff.codec_free)
        && take(codec, "av_packet_alloc", ff.packet_alloc)
        && take(codec, "av_packet_free", ff.packet_free)
        && take(codec, "av_packet_unref", ff.packet_unref)
        && take(util, "av_frame_alloc", ff.frame_alloc)
        && take(util, "av_frame_free", ff.frame_free) && take(util, "av_malloc", ff.malloc)
        && take(util, "av_freep", ff.freep) && take(util, "av_log_set_level", ff.log_set_level);
}

Result withFfmpeg(int fd, std::unique_ptr<Mono> &sound)
{
    ff.log_set_level(AV_LOG_QUIET);
    lseek(fd, 0, SEEK_SET);
    constexpr int bufferSize = 64 * 1024;
    auto *buffer = static_cast<unsigned char *>(ff.malloc(bufferSize));
    AVIOContext *io = ff.avio_alloc(buffer, bufferSize, 0, &fd, readFd, nullptr, seekFd);
    AVFormatContext *container = ff.alloc_context();
    if (!buffer || !io || !container)
        return Result::Broken;
    container->pb = io;
    Result result = Result::NotMine;
    AVCodecContext *codec = nullptr;
    AVPacket *packet = ff.packet_alloc();
    AVFrame *frame = ff.frame_alloc();
    const AVCodec *decoder = nullptr;
    int stream = -1;
    if (ff.open_input(&container, nullptr, nullptr, nullptr) == 0) {
        result = Result::Broken;
        if (ff.find_stream_info(container, nullptr) >= 0)
            stream = ff.find_best_stream(container, AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0);
        if (stream >= 0 && decoder && (codec = ff.codec_alloc(decoder))
            && ff.parameters_to_context(codec, container->streams[stream]->codecpar) >= 0
            && ff.codec_open(codec, decoder, nullptr) == 0 && codec->ch_layout.nb_channels > 0
            && codec->ch_layout.nb_channels <= 64) {
            sound = std::make_unique<Mono>(codec->sample_rate);
            if (container->duration > 0 && container->duration != AV_NOPTS_VALUE)
                sound->declare(double(container->duration) / AV_TIME_BASE);
            bool decoded = false;
            while (sound->wantsMore() && ff.read_frame(container, packet) >= 0) {
                if (packet->stream_index == stream && ff.send_packet(codec, packet) >= 0) {
                    while (ff.receive_frame(codec, frame) >= 0) {
                        decoded = true;
                        addFrame(frame,
                            frame->ch_layout.nb_channels > 0 ? frame->ch_layout.nb_channels
                                                             : codec->ch_layout.nb_channels,
                            *sound);
                    }
                }
                ff.packet_unref(packet);
            }
            if (!sound->wantsMore() && ff.read_frame(container, packet) >= 0)
                sound->add(0);
            result = decoded && sound->rate() > 0 ? Result::Decoded : Result::Broken;
        }
        ff.close_input(&container); // frees the container, not our I/O
    }
    ff.frame_free(&frame);
    ff.packet_free(&packet);
    ff.codec_free(&codec);
    if (container)
        ff.close_input(&container);
    if (io)
        ff.freep(&io->buffer);
    ff.avio_free(&io);
    return result;
}

bool onlyFfmpegReads(int fd)
{
    char head[12] = {};
    if (pread(fd, head, sizeof head, 0) != ssize_t(sizeof head))
        return false;
    return std::memcmp(head + 4, "ftyp", 4) == 0 || std::memcmp(head, "#!AMR", 5) == 0;
}

} // namespace decode
