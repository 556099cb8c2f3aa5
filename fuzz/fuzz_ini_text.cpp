// The options store's text reader on arbitrary bytes: whatever it reads must save, and
// what it saves must load and save again without failing. (The text form is not exact:
// names ending in "]" or beginning with "#" and texts with line breaks read back
// differently, so the written bytes may change from one round to the next.)
#include "settings/ElIni.h"

#include <cstdint>
#include <string_view>

using namespace cantorell;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    TElIniFile store;
    store.LoadFromBytes(input, "fuzz input");
    const std::string saved = store.SaveToBytes();

    TElIniFile again;
    again.LoadFromBytes(saved, "saved text");
    again.SaveToBytes();

    // The same bytes through the flat store, where section paths are whole key names.
    static TElIniFile* const flat = [] {
        auto* store = new TElIniFile;
        store->SetSimple(true);
        return store;
    }();
    flat->LoadFromBytes(input, "fuzz input");
    flat->LoadFromBytes(flat->SaveToBytes(), "saved flat text");
    return 0;
}
