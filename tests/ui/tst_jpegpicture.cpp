#include "jpegpicture.h"

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QTest>

namespace {

// An 8 x 8 grey gradient and an 8 x 8 CMYK square, written by an image tool.
const QByteArray greyJpeg = QByteArray::fromHex(
    "ffd8ffe000104a46494600010100000100010000ffdb004300030202030202030303030403030405080505040405"
    "0a070706080c0a0c0c0b0a0b0b0d0e12100d0e110e0b0b1016101113141515150c0f171816141812141514ffc000"
    "0b080008000801011100ffc40014000100000000000000000000000000000001ffc4001710000301000000000000"
    "00000000000000001965a3ffda0008010100003f0015848ccfffd9");
const QByteArray cmykJpeg = QByteArray::fromHex(
    "ffd8ffee000e41646f626500640000000002ffdb0043000302020202020302020203030303040604040404040806"
    "06050609080a0a090809090a0c0f0c0a0b0e0b09090d110d0e0f101011100a0c12131210130f101010ffdb004301"
    "03030304030408040408100b090b1010101010101010101010101010101010101010101010101010101010101010"
    "101010101010101010101010101010101010ffc00014080008000804011100021101031101041100ffc400150001"
    "0100000000000000000000000000000809ffc40014100100000000000000000000000000000000ffc40015010101"
    "00000000000000000000000000000709ffc40014110100000000000000000000000000000000ffda000e04010002"
    "1103110400003f00441cd2a954dfffd9");

QByteArray emblemBytes()
{
    QFile file(QStringLiteral(":/resources/emblem.jpg"));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Sets both sides in the frame header; the picture data stays that of an 8 x 8 picture.
QByteArray withSides(QByteArray bytes, int side)
{
    const qsizetype frame = bytes.indexOf(QByteArray("\xff\xc0", 2));
    for (qsizetype at : {frame + 5, frame + 7}) {
        bytes[at] = char(side >> 8);
        bytes[at + 1] = char(side & 0xFF);
    }
    return bytes;
}

bool near(QRgb pixel, QColor expected)
{
    const int tolerance = 24; // lossy compression moves flat colours a little
    return qAbs(qRed(pixel) - expected.red()) <= tolerance &&
        qAbs(qGreen(pixel) - expected.green()) <= tolerance &&
        qAbs(qBlue(pixel) - expected.blue()) <= tolerance;
}

} // namespace

class TestJpegPicture : public QObject
{
    Q_OBJECT

private slots:
    void emblemDecodesInItsColours();
    void greyPictureDecodes();
    void badBytesGiveNullImage_data();
    void badBytesGiveNullImage();
};

void TestJpegPicture::emblemDecodesInItsColours()
{
    const QImage picture = titlePicture();
    QVERIFY(!picture.isNull());
    QCOMPARE(picture.size(), QSize(185, 185));
    // Pale corner, amber bar in the middle, purple lobe above it: the channels are in order.
    QVERIFY(near(picture.pixel(3, 3), QColor(0xf6, 0xef, 0xe6)));
    QVERIFY(near(picture.pixel(92, 95), QColor(0xe0, 0xa4, 0x58)));
    QVERIFY(near(picture.pixel(92, 35), QColor(0x7a, 0x1f, 0x3d)));
}

void TestJpegPicture::greyPictureDecodes()
{
    const QImage picture = decodeJpeg(greyJpeg);
    QCOMPARE(picture.size(), QSize(8, 8));
    QCOMPARE(picture.format(), QImage::Format_Grayscale8);
    QVERIFY(qGray(picture.pixel(0, 0)) < qGray(picture.pixel(0, 7))); // black at the top
}

void TestJpegPicture::badBytesGiveNullImage_data()
{
    QTest::addColumn<QByteArray>("bytes");
    const QByteArray emblem = emblemBytes();
    QVERIFY(!emblem.isEmpty());
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("not a picture") << QByteArray("GIF89a, or anything else");
    QTest::newRow("start marker only") << QByteArray("\xff\xd8", 2);
    QTest::newRow("header without data") << emblem.left(300);
    QTest::newRow("cut in half") << emblem.left(emblem.size() / 2);
    QTest::newRow("end marker missing") << emblem.chopped(2);
    QTest::newRow("scan data overwritten")
        << emblem.left(emblem.size() / 2) + QByteArray(emblem.size() / 2, '\xff');
    QTest::newRow("CMYK picture") << cmykJpeg;
    QTest::newRow("sides above the limit") << withSides(greyJpeg, 5000);
    QTest::newRow("zero sides") << withSides(greyJpeg, 0);
}

void TestJpegPicture::badBytesGiveNullImage()
{
    QFETCH(QByteArray, bytes);
    QVERIFY(decodeJpeg(bytes).isNull());
}

QTEST_MAIN(TestJpegPicture)
#include "tst_jpegpicture.moc"
