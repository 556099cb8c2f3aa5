// Where the window program finds its files on a Linux desktop: the options file, the
// installed README the About link opens, and the desktop identity that names the desktop
// entry, the icon and the AppStream data.
#pragma once

#include <QString>

namespace cantorell {

// The reverse-DNS application id. Desktops (Wayland compositors included) match a window
// to its desktop entry "<id>.desktop" by it, and take the window's icon from there.
inline constexpr const char* AppId = CANTORELL_APP_ID;

// The options file's name, and the folder under the XDG configuration home that holds it
// for an installed program.
inline constexpr const char* OptionsFileName = "VizErir.ini";
inline constexpr const char* ConfigFolderName = "tagcantorell";

// Where "VizErir.ini" lives. A copy of the program that carries its own writable
// "VizErir.ini" beside the executable (a portable copy, or a build tree) keeps using it;
// every other copy keeps the file in `$XDG_CONFIG_HOME/tagcantorell/`, or in
// `~/.config/tagcantorell/` when that variable is unset, empty or not an absolute path
// (the XDG base directory rules). The folder may not exist yet.
QString OptionsFileLocation(const QString& programFolder, const QString& xdgConfigHome,
                            const QString& home);
// The same for this process: the executable's folder, its environment and home folder.
QString DefaultOptionsFile();

// Creates the folders leading to `file` that are missing, readable by their owner alone, as
// the XDG rules ask of the configuration home. False when one of them cannot be made.
bool MakeFolderFor(const QString& file);

// The README the About page opens: the one beside the executable when there is one (a
// build tree), otherwise the installed copy in the documentation folder of the same prefix.
QString ReadmeFile(const QString& programFolder);

} // namespace cantorell
