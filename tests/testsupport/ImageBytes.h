// Image files made at test time with Qt's image writers (the tests that use this link
// QtGui).
#pragma once

#include <QBuffer>
#include <QByteArray>
#include <QImage>

#include <string>

namespace cantorell::test {

// A `width` x `height` image of one colour in `format` ("PNG", "JPEG", ...), as file bytes.
inline std::string ImageBytes(int width, int height, const char* format, QRgb color) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(color);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes.toStdString();
}

} // namespace cantorell::test
