#pragma once

class QByteArray;
class QImage;

// Decodes a baseline or progressive JPEG with libjpeg. Returns an RGB888 image (Grayscale8 for a
// grey picture), or a null image for anything it cannot decode cleanly: garbage, truncated or
// corrupt data (any libjpeg warning), CMYK pictures, sides above 4096 pixels, more than 200
// progressive scans. Never exits or crashes on bad input.
QImage decodeJpeg(const QByteArray &bytes);

// The 185 x 185 emblem shown in the title view, decoded from the program's resources.
QImage titlePicture();
