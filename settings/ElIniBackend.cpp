#include "ElIniBackend.h"

namespace cantorell {

// Only the file back end has a tree of nodes and a file; the registry keeps neither.

TElIniEntry* TElIniBackend::GetValueEntry(const std::string&, const std::string&) {
    throw EElIniError("GetValueEntry method is not available when using registry.");
}

TElIniEntry* TElIniBackend::CreateValue(const std::string&, const std::string&) {
    throw EElIniError("CreateValue method is not available when using registry.");
}

bool TElIniBackend::RenameKey(const std::string&, const std::string&) {
    throw EElIniError("Key can not be renamed when using registry.");
}

// The registry is read key by key as it is used and written value by value: there is
// nothing to load or save as a whole.
bool TElIniBackend::Load(const std::function<void()>&, const std::function<void()>&) {
    return false;
}

bool TElIniBackend::Save() {
    return false;
}

} // namespace cantorell
