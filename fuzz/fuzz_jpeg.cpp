#include "jpegpicture.h"

#include <QByteArray>
#include <QImage>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

// Decodes arbitrary bytes as the title picture. A decoded image must be within the size limit.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QImage image =
        decodeJpeg(QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)));
    if (!image.isNull() && (image.width() > 4096 || image.height() > 4096))
        std::abort();
    return 0;
}
