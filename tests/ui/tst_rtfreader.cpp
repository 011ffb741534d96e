#include "rtfreader.h"

#include <QColor>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>

#include <string>
#include <vector>

namespace {

QStringList blocksOf(const QTextDocument &document)
{
    QStringList blocks;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next())
        blocks << block.text();
    return blocks;
}

// The format of the first fragment whose text is exactly text.
QTextCharFormat formatOf(const QTextDocument &document, const QString &text)
{
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            if (it.fragment().text() == text)
                return it.fragment().charFormat();
        }
    }
    return {};
}

QString text(const char16_t *characters)
{
    return QString::fromUtf16(characters);
}

} // namespace

class TestRtfReader : public QObject
{
    Q_OBJECT

private slots:
    void readsText_data();
    void readsText();
    void readsFormats_data();
    void readsFormats();
    void readsAlignment();
    void acceptsDeepNesting();
    void rejectsMalformed_data();
    void rejectsMalformed();
    void assignsLines_data();
    void assignsLines();
    void boundsLongTexts_data();
    void boundsLongTexts();
};

void TestRtfReader::readsText_data()
{
    QTest::addColumn<QByteArray>("rtf");
    QTest::addColumn<QStringList>("blocks");
    QTest::newRow("empty document") << QByteArray("{\\rtf1}") << QStringList {QString()};
    QTest::newRow("paragraphs and line break")
        << QByteArray("{\\rtf1 one\\par two\\line three}")
        << QStringList {QStringLiteral("one"), text(u"two\u2028three")};
    QTest::newRow("escaped line break is a paragraph")
        << QByteArray("{\\rtf1 a\\\r\nb}")
        << QStringList {QStringLiteral("a"), QStringLiteral("b")};
    QTest::newRow("raw line breaks are ignored")
        << QByteArray("{\\rtf1 a\r\nb\n}") << QStringList {QStringLiteral("ab")};
    QTest::newRow("tab and control symbols")
        << QByteArray("{\\rtf1 a\\tab b \\\\ \\{ \\} c\\~d\\-e\\_f}")
        << QStringList {text(u"a\tb \\ { } c\u00A0d\u00ADe\u2011f")};
    QTest::newRow("hex characters are Windows-1252")
        << QByteArray("{\\rtf1 caf\\'e9 \\'80\\'9F}")
        << QStringList {text(u"caf\u00E9 \u20AC\u0178")};
    QTest::newRow("unicode skips one fallback")
        << QByteArray("{\\rtf1 \\u8364?x}") << QStringList {text(u"\u20ACx")};
    QTest::newRow("negative unicode wraps to 16 bits")
        << QByteArray("{\\rtf1 \\u-3913?}") << QStringList {text(u"\uF0B7")};
    QTest::newRow("uc2 skips two hex fallbacks")
        << QByteArray("{\\rtf1\\uc2 \\u8364\\'80\\'80x}") << QStringList {text(u"\u20ACx")};
    QTest::newRow("uc0 skips nothing")
        << QByteArray("{\\rtf1\\uc0 \\u233 x}") << QStringList {text(u"\u00E9x")};
    QTest::newRow("fallback ends at a group")
        << QByteArray("{\\rtf1\\uc3 \\u233{}ab}") << QStringList {text(u"\u00E9ab")};
    QTest::newRow("surrogate pair")
        << QByteArray("{\\rtf1\\u-10179?\\u-8704?}") << QStringList {text(u"\U0001F600")};
    QTest::newRow("lone surrogate is replaced")
        << QByteArray("{\\rtf1\\u-10179?x}") << QStringList {text(u"\uFFFDx")};
    QTest::newRow("huge values are clamped")
        << QByteArray("{\\rtf1\\fs99999999999999 \\u99999999999999?x}")
        << QStringList {text(u"\uFFFDx")};
    QTest::newRow("control characters dropped")
        << QByteArray("{\\rtf1 a\\'00\\u7?b\x01\\'zc}") << QStringList {QStringLiteral("abzc")};
    QTest::newRow("frame marks are not text")
        << QByteArray("{\\rtf1\\u-560?\\u-4?x}") << QStringList {text(u"\uFFFD\uFFFDx")};
    QTest::newRow("font table and stylesheet skipped")
        << QByteArray("{\\rtf1\\ansi{\\fonttbl{\\f0\\fswiss Arial;}}{\\stylesheet{\\s0 Normal;}}"
                      "\\f0 Hi}")
        << QStringList {QStringLiteral("Hi")};
    QTest::newRow("ignorable destinations skipped")
        << QByteArray("{\\rtf1{\\*\\generator Tool 1.0;}{\\*\\unknown junk{nested}}Hi}")
        << QStringList {QStringLiteral("Hi")};
    QTest::newRow("binary data may hold braces")
        << QByteArray("{\\rtf1{\\pict\\bin3 }{}}ok}") << QStringList {QStringLiteral("ok")};
    QTest::newRow("unknown words ignored with their delimiter")
        << QByteArray("{\\rtf1\\foo\\bar12 x\\baz-3 y}") << QStringList {QStringLiteral("xy")};
    QTest::newRow("blanks and line breaks after the end")
        << QByteArray("{\\rtf1 x}\r\n \t\r\n") << QStringList {QStringLiteral("x")};
}

void TestRtfReader::readsText()
{
    QFETCH(QByteArray, rtf);
    QTextDocument document;
    document.setPlainText(QStringLiteral("old\ncontent"));
    QString error;
    QVERIFY2(readRtf(rtf, &document, &error), qPrintable(error));
    QTEST(blocksOf(document), "blocks");
}

void TestRtfReader::readsFormats_data()
{
    QTest::addColumn<QString>("fragment");
    QTest::addColumn<bool>("bold");
    QTest::addColumn<bool>("italic");
    QTest::addColumn<bool>("underline");
    QTest::addColumn<double>("pointSize"); // 0: the document's own size
    QTest::addColumn<QColor>("colour"); // invalid: the document's own colour
    const QColor none;
    QTest::newRow("bold") << QStringLiteral("B") << true << false << false << 0.0 << none;
    QTest::newRow("italic") << QStringLiteral("I") << false << true << false << 0.0 << none;
    QTest::newRow("underline") << QStringLiteral("U") << false << false << true << 0.0 << none;
    QTest::newRow("red") << QStringLiteral("R") << false << false << false << 0.0
                         << QColor(Qt::red);
    QTest::newRow("navy") << QStringLiteral("N") << false << false << false << 0.0
                          << QColor(0, 0, 128);
    QTest::newRow("auto colour entry")
        << QStringLiteral("A") << false << false << false << 0.0 << none;
    QTest::newRow("index beyond the table")
        << QStringLiteral("X") << false << false << false << 0.0 << none;
    QTest::newRow("half-points") << QStringLiteral("F") << false << false << false << 20.0 << none;
    QTest::newRow("plain resets") << QStringLiteral("P") << false << false << false << 0.0 << none;
    QTest::newRow("group scopes bold")
        << QStringLiteral("G") << true << false << false << 0.0 << none;
    QTest::newRow("after the group")
        << QStringLiteral("H") << false << false << false << 0.0 << none;
}

void TestRtfReader::readsFormats()
{
    QFETCH(QString, fragment);
    const QByteArray rtf("{\\rtf1{\\colortbl;\\red255\\green0\\blue0;\\red0\\green0\\blue128;;}"
                         "\\b B\\b0 \\i I\\i0 \\ul U\\ulnone \\cf1 R\\cf2 N\\cf3 A\\cf9 X\\cf0 "
                         "\\fs40 F\\b\\i\\ul\\cf1\\plain P{\\b G}H}");
    QTextDocument document;
    QVERIFY(readRtf(rtf, &document));
    QCOMPARE(document.toPlainText(), QStringLiteral("BIURNAXFPGH"));
    const QTextCharFormat format = formatOf(document, fragment);
    QVERIFY2(format.isValid(), "each letter has its own format");
    QTEST(format.fontWeight() == QFont::Bold, "bold");
    QTEST(format.fontItalic(), "italic");
    QTEST(format.fontUnderline(), "underline");
    QTEST(
        format.hasProperty(QTextFormat::FontPointSize) ? format.fontPointSize() : 0.0, "pointSize");
    QTEST(format.hasProperty(QTextFormat::ForegroundBrush) ? format.foreground().color() : QColor(),
        "colour");
}

void TestRtfReader::readsAlignment()
{
    QTextDocument document;
    QVERIFY(readRtf("{\\rtf1\\qc centred\\par\\pard left\\par\\qr right}", &document));
    QCOMPARE(blocksOf(document).size(), 3);
    QCOMPARE(document.findBlockByNumber(0).blockFormat().alignment(), Qt::AlignHCenter);
    QCOMPARE(document.findBlockByNumber(1).blockFormat().alignment(), Qt::AlignLeft);
    QCOMPARE(document.findBlockByNumber(2).blockFormat().alignment(), Qt::AlignRight);
}

void TestRtfReader::acceptsDeepNesting()
{
    const QByteArray rtf = "{\\rtf1 " + QByteArray(150, '{') + "deep" + QByteArray(150, '}') + "}";
    QTextDocument document;
    QVERIFY(readRtf(rtf, &document));
    QCOMPARE(document.toPlainText(), QStringLiteral("deep"));
}

void TestRtfReader::rejectsMalformed_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("plain text") << QByteArray("Hello, world\r\n");
    QTest::newRow("blank before the header") << QByteArray(" {\\rtf1 x}");
    QTest::newRow("header in capitals") << QByteArray("{\\RTF1 x}");
    QTest::newRow("closing brace missing") << QByteArray("{\\rtf1 {x}");
    QTest::newRow("escaped brace does not close") << QByteArray("{\\rtf1 x\\}");
    QTest::newRow("binary data swallows the brace") << QByteArray("{\\rtf1\\bin1 }");
    QTest::newRow("extra closing brace") << QByteArray("{\\rtf1 x}}");
    QTest::newRow("text after the end") << QByteArray("{\\rtf1 x}y");
    QTest::newRow("second group after the end") << QByteArray("{\\rtf1 x}{y}");
    QTest::newRow("nested deeper than 200")
        << "{\\rtf1 " + QByteArray(300, '{') + QByteArray(300, '}') + "}";
}

void TestRtfReader::rejectsMalformed()
{
    QFETCH(QByteArray, bytes);
    QTextDocument document;
    document.setPlainText(QStringLiteral("kept"));
    QString error;
    QVERIFY(!readRtf(bytes, &document, &error));
    QVERIFY(!error.isEmpty());
    QCOMPARE(document.toPlainText(), QStringLiteral("kept"));
}

void TestRtfReader::assignsLines_data()
{
    QTest::addColumn<QByteArrayList>("lines");
    QTest::addColumn<QStringList>("blocks");
    QTest::newRow("no lines") << QByteArrayList {} << QStringList {QString()};
    QTest::newRow("plain lines") << QByteArrayList {"Hello", "", "World"}
                                 << QStringList {QStringLiteral("Hello"), QString(),
                                        QStringLiteral("World")};
    QTest::newRow("Windows-1252 bytes") << QByteArrayList {"caf\xe9", "\x80 5"}
                                        << QStringList {text(u"caf\u00E9"), text(u"\u20AC 5")};
    QTest::newRow("RTF across lines")
        << QByteArrayList {"{\\rtf1\\ansi", "{\\fonttbl{\\f0 Arial;}}", "\\b Cerebrix\\b0\\par",
               "about}"}
        << QStringList {QStringLiteral("Cerebrix"), QStringLiteral("about")};
    QTest::newRow("RTF followed by a blank line")
        << QByteArrayList {"{\\rtf1 x}", ""} << QStringList {QStringLiteral("x")};
    QTest::newRow("unbalanced RTF shown as written")
        << QByteArrayList {"{\\rtf1 open", "{\\b text}"}
        << QStringList {QStringLiteral("{\\rtf1 open"), QStringLiteral("{\\b text}")};
}

void TestRtfReader::assignsLines()
{
    QFETCH(QByteArrayList, lines);
    std::vector<std::string> about;
    for (const QByteArray &line : lines)
        about.push_back(line.toStdString());
    QTextDocument document;
    document.setPlainText(QStringLiteral("earlier text"));
    AssignViaStream(&document, about);
    QTEST(blocksOf(document), "blocks");
    QCOMPARE(document.isEmpty(), lines.isEmpty());
}

void TestRtfReader::boundsLongTexts_data()
{
    QTest::addColumn<QByteArrayList>("lines");
    QTest::addColumn<bool>("cut");
    QTest::addColumn<int>("blocks");
    QTest::addColumn<int>("characters"); // of the document, its closing separator included
    const QByteArrayList plainFull(AboutTextLines, "x");
    QTest::newRow("plain, lines that fit") << plainFull << false << AboutTextLines << 20000;
    QTest::newRow("plain, one line too many")
        << (plainFull + QByteArrayList {"y"}) << true << AboutTextLines << 20000;
    const QByteArray half(AboutTextCharacters / 2, 'z');
    QTest::newRow("plain, characters that fit") << QByteArrayList {half, half.left(half.size() - 1)}
                                                << false << 2 << AboutTextCharacters + 1;
    QTest::newRow("plain, one character too many")
        << QByteArrayList {half, half} << true << 1 << AboutTextCharacters / 2 + 1;
    QByteArrayList paragraphs {"{\\rtf1"};
    for (int i = 0; i < AboutTextLines; ++i)
        paragraphs.append("\\b x\\b0\\par");
    paragraphs.append("}");
    QTest::newRow("RTF, one paragraph too many") << paragraphs << true << AboutTextLines << 20000;
    QTest::newRow("RTF, characters")
        << QByteArrayList {"{\\rtf1 " + QByteArray(AboutTextCharacters + 5, 'w') + "}"} << true << 1
        << AboutTextCharacters + 1;
}

void TestRtfReader::boundsLongTexts()
{
    QFETCH(QByteArrayList, lines);
    std::vector<std::string> about;
    for (const QByteArray &line : lines)
        about.push_back(line.toStdString());
    QTextDocument document;
    QTEST(AssignViaStream(&document, about), "cut");
    QTEST(document.blockCount(), "blocks");
    QTEST(document.characterCount(), "characters");
}

QTEST_MAIN(TestRtfReader)
#include "tst_rtfreader.moc"
