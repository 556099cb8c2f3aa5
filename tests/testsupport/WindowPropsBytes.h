// The 82 bytes of the main window's stored-property list: two entries, FolderTree1's Width
// and GroupBoxExplorer's Height, each a stream-string name and flags, in the options file's
// byte layout. Shared by the form-persistence tests and the window's end-to-end tests.
#pragma once

#include <QByteArray>

namespace cantorell::test {

inline QByteArray WindowPropsToStore() {
    return QByteArray::fromHex("02000000"
                               "01000000"
                               "0000"
                               "0b000000"
                               "466f6c6465725472656531" // FolderTree1
                               "00000000"
                               "0101"
                               "05000000"
                               "5769647468" // Width
                               "01000000"
                               "0000"
                               "10000000"
                               "47726f7570426f784578706c6f726572" // GroupBoxExplorer
                               "00000000"
                               "0101"
                               "06000000"
                               "486569676874"); // Height
}

} // namespace cantorell::test
