// A group box that is one pane of a splitter, with its size along the splitter as a
// published property, so that the form-persistence component can keep it ("Height" of
// the explorer area in the vertical splitter of the main window).
#pragma once

#include "platform/WindowPlacement.h"

#include <QGroupBox>

namespace cantorell {

class TSplitGroupBox : public QGroupBox {
    Q_OBJECT
    Q_PROPERTY(int Height READ Height WRITE SetHeight)

public:
    using QGroupBox::QGroupBox;

    // The pane's size in its splitter; writing it moves the splitter's handle. A negative
    // value is ignored.
    int Height() const { return SizeInSplitter(*this); }
    void SetHeight(int value) { SetSizeInSplitter(*this, value); }
};

} // namespace cantorell
