#include "FrameLib.h"

namespace cantorell {

TFrameItem& TFrameLib::Add() {
    FItems.push_back(std::make_unique<TFrameItem>(Count()));
    return *FItems.back();
}

} // namespace cantorell
