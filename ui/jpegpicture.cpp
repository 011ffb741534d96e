#include "jpegpicture.h"

#include <QByteArray>
#include <QFile>
#include <QImage>
#include <QString>

#include <csetjmp>
#include <cstdio> // jpeglib.h uses FILE without including it
#include <cstring>

#include <jpeglib.h>

// The picture is decoded through libjpeg rather than Qt's image plugins, which may be missing
// from a deployment; a bad picture must give a null image, never end the program.

namespace {

constexpr JDIMENSION maxSide = 4096;
constexpr int maxScans = 200; // progressive files with endless scans would decode for minutes

struct ErrorManager
{
    jpeg_error_mgr base;
    std::jmp_buf jump;
};

[[noreturn]] void jumpBack(j_common_ptr info)
{
    std::longjmp(reinterpret_cast<ErrorManager *>(info->err)->jump, 1);
}

void stayQuiet(j_common_ptr) { }

// A warning means corrupt or truncated data, which libjpeg would paint grey; such a picture is
// rejected whole instead.
void failOnWarning(j_common_ptr info, int level)
{
    if (level < 0)
        jumpBack(info);
}

void limitScans(j_common_ptr info)
{
    const auto *decompress = reinterpret_cast<j_decompress_ptr>(info);
    if (decompress->input_scan_number > maxScans)
        jumpBack(info);
}

// Only plain data lives in this frame, so a longjmp out of libjpeg skips no destructor; the image
// belongs to the caller.
bool decodeInto(const unsigned char *data, unsigned long size, QImage *image)
{
    jpeg_decompress_struct info;
    ErrorManager errors;
    jpeg_progress_mgr progress;
    info.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = jumpBack;
    errors.base.output_message = stayQuiet;
    errors.base.emit_message = failOnWarning;
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    progress.progress_monitor = limitScans;
    info.progress = &progress;
    jpeg_mem_src(&info, data, size);
    jpeg_read_header(&info, TRUE);
    const bool grey = info.jpeg_color_space == JCS_GRAYSCALE;
    info.out_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
    if (info.image_width > maxSide || info.image_height > maxSide) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_start_decompress(&info);
    *image = QImage(int(info.output_width), int(info.output_height),
        grey ? QImage::Format_Grayscale8 : QImage::Format_RGB888);
    if (image->isNull() || info.output_components != (grey ? 1 : 3)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = image->scanLine(int(info.output_scanline));
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

} // namespace

QImage decodeJpeg(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return {};
    QImage image;
    if (!decodeInto(reinterpret_cast<const unsigned char *>(bytes.constData()),
            static_cast<unsigned long>(bytes.size()), &image))
        return {};
    return image;
}

QImage titlePicture()
{
    QFile file(QStringLiteral(":/resources/emblem.jpg"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return decodeJpeg(file.readAll());
}
