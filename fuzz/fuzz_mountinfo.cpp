// The mount table parser and the volume filter on arbitrary text: every entry it returns
// must come from a line with the "-" separator, and judging and decoding it must not fault.
#include "platform/MountTable.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (const cantorell::TMountEntry& entry : cantorell::ParseMountInfo(text)) {
        if (entry.RootPath.size() > size || entry.Device.size() > size)
            __builtin_trap();
        cantorell::IsUserVolume(entry, "/home/user");
        cantorell::DecodeLabel(entry.Device);
    }
    cantorell::DecodeLabel(text);
    return 0;
}
