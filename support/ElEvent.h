// Firing the components' events. An event is a std::function member that the owner may
// leave empty; firing an empty one does nothing.
#pragma once

#include <utility>

namespace cantorell {

template <class THandler, class... TArgs> void Fire(const THandler& handler, TArgs&&... args) {
    if (handler)
        handler(std::forward<TArgs>(args)...);
}

} // namespace cantorell
