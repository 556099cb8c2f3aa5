#include "Cli.h"

#include <QFileInfo>

namespace cantorell::cli {

// The window's "MPEG Info" page. When the stream cannot be read, the block has no lines.
void ShowStream(const QString& path, const TShowSections& sections, QStringList& lines) {
    if (sections.StreamRead)
        lines.append(StreamLines(sections.Audio, QFileInfo(path).size()));
}

} // namespace cantorell::cli
