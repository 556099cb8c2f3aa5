// The MPEG analyser on arbitrary bytes: the pure searches over one block, and the whole
// analysis of a file holding the bytes (an in-memory file, so no disk is touched).
#include "tags/MPEGaudio.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

using namespace cantorell;

namespace {

int MemoryFile() {
    static const int fd = ::memfd_create("mpeg-audio-fuzz", MFD_CLOEXEC);
    return fd;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TSearchBlock block{};
    const size_t length = std::min(size, block.size());
    std::copy_n(data, length, block.begin());

    FrameHeaderInfo frame;
    VBRData vbr;
    FindFirstFrame(block, length, frame, vbr);
    if (size >= 2) {
        (void)ReadVBRHeader(block, (size_t{data[0]} << 8 | data[1]) % (block.size() + 16));
        (void)FindEncoderTag(block, static_cast<uint16_t>(data[0] << 8 | data[1]));
    }

    const int fd = MemoryFile();
    if (fd < 0 || ::ftruncate(fd, 0) != 0 ||
        ::pwrite(fd, data, size, 0) != static_cast<ssize_t>(size))
        return 0;
    TMPEGaudio audio;
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    if (audio.ReadFromFile(path)) {
        (void)audio.Version();
        (void)audio.Layer();
        (void)audio.ChannelMode();
        (void)audio.BitRate();
        (void)audio.SampleRate();
        (void)audio.EncoderTag();
    }
    return 0;
}
