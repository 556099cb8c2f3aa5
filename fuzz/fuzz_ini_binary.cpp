// The options store's binary reader on arbitrary bytes: a damaged input may be refused
// with a file error, but what it did read must save, and what it saves must load again
// and, after one round, save to the same bytes.
#include "settings/ElIni.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

using namespace cantorell;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    TElIniFile store;
    store.SetBinaryMode(true);
    try {
        store.LoadFromBytes(input, "fuzz input");
    } catch (const EElFileError&) {
        // Refused part-way; what was read before the damage is still a valid tree.
    }
    const std::string saved = store.SaveToBytes();

    // A key that also has a value of its own is written among its parent's values, before
    // the parent's keys, so the first reload may put it earlier among its sibling keys.
    // From then on the written form must not change.
    TElIniFile again;
    again.SetBinaryMode(true);
    again.LoadFromBytes(saved, "saved data");
    const std::string resaved = again.SaveToBytes();
    TElIniFile third;
    third.SetBinaryMode(true);
    third.LoadFromBytes(resaved, "resaved data");
    if (third.SaveToBytes() != resaved)
        std::abort();
    return 0;
}
