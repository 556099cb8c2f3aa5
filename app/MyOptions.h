// The program's options. They are loaded from "VizErir.ini" at start and written back at
// exit; the window keeps them for later use.
#pragma once

#include "app/ElOpts.h"

namespace cantorell {

class TMyOptions : public TElOptions {
    Q_OBJECT
    Q_PROPERTY(QString LastFile MEMBER LastFile)
    Q_PROPERTY(bool ReopenFile MEMBER ReopenFile)
    Q_PROPERTY(bool ToTray MEMBER ToTray)
    Q_PROPERTY(bool MinimizeOnEsc MEMBER MinimizeOnEsc)
    Q_PROPERTY(bool MinimizeOnClose MEMBER MinimizeOnClose)
    Q_PROPERTY(bool UseTreeFilter MEMBER UseTreeFilter)
    Q_PROPERTY(int TabPosition MEMBER TabPosition)
    Q_PROPERTY(QString DefFont MEMBER DefFont)
    Q_PROPERTY(int DefFontSize MEMBER DefFontSize)
    Q_PROPERTY(QString DefFontColor MEMBER DefFontColor)

public:
    // The base values stay at their zero values (IniSection empty: the options are values
    // at the store's root) and the object has no owner.
    TMyOptions() : TElOptions(TBare{}, nullptr) {}
    ~TMyOptions() override { SaveOnDestruction(); }

    QString LastFile;
    bool ReopenFile = false;
    bool ToTray = false;
    bool MinimizeOnEsc = true;
    bool MinimizeOnClose = true;
    bool UseTreeFilter = true;
    int TabPosition = 0;
    QString DefFont = QStringLiteral("Verdana");
    int DefFontSize = 10;
    // The name of the system's window-text colour.
    QString DefFontColor = QStringLiteral("clWindowText");
};

} // namespace cantorell
