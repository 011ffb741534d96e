#include "rtfreader.h"

#include "codepage.h"
#include "hexdigit.h"
#include "rtfwords.h"

#include <QByteArray>
#include <QColor>
#include <QString>
#include <QTextBlockFormat>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <cstdint>
#include <string_view>

// Qt reads no RTF and no packaged C or C++ library does, so this is a small reader of the subset
// that hand-written about texts use. It makes one pass per call, never recurses and keeps its
// group stack bounded, so any input ends in linear time.

namespace {

using rtf::Word;
using rtf::WordMeaning;

constexpr int maxDepth = 200;
constexpr int maxParameter = 1'000'000'000;
constexpr int minHalfPoints = 2; // clamps keep a hostile \fs from asking for absurd glyphs
constexpr int maxHalfPoints = 400;

enum class Destination { Text, Skip, ColourTable };

struct GroupState
{
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strikeOut = false;
    int halfPoints = 0; // 0: the document's own size
    int colour = 0; // colour table index; 0 is the document's own colour
    Qt::Alignment alignment = Qt::AlignLeft;
    int fallbackLength = 1; // \uc: characters that stand in for each \u
    Destination destination = Destination::Text;
};

bool isLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// One reading of the bytes. With a null cursor it only checks the structure, so the document is
// touched only after a check has passed.
class RtfParser
{
public:
    RtfParser(const QByteArray &bytes, QTextCursor *cursor)
        : m_pos(bytes.constData())
        , m_end(bytes.constData() + bytes.size())
        , m_cursor(cursor)
    { }
    bool parse(QString *error);
    // Whether the text was longer than the document takes (see AboutTextLines).
    bool wasCut() const { return m_cut; }

private:
    bool openGroup();
    bool closeGroup();
    void controlWord();
    void controlSymbol(char symbol);
    void applyWord(WordMeaning meaning, bool hasParameter, int parameter);
    void hexCharacter();
    void textByte(char byte);
    void putCharacter(QChar character);
    void endParagraph();
    void flush();

    const char *m_pos;
    const char *m_end;
    QTextCursor *m_cursor;
    qsizetype m_room = AboutTextCharacters; // characters the document still takes
    int m_blocks = 1;
    bool m_cut = false;
    std::vector<GroupState> m_stack;
    GroupState m_state;
    bool m_ignorableGroup = false; // a \* opened the current group
    int m_fallbackLeft = 0; // characters still to drop after a \u
    std::vector<QColor> m_colours;
    int m_red = -1;
    int m_green = -1;
    int m_blue = -1;
    QString m_pending;
};

bool RtfParser::parse(QString *error)
{
    auto fail = [error](const char *text) {
        if (error)
            *error = QString::fromLatin1(text);
        return false;
    };
    if (!QByteArrayView(m_pos, m_end - m_pos).startsWith("{\\rtf"))
        return fail("not an RTF document");
    bool finished = false;
    while (m_pos < m_end && !finished) {
        const char c = *m_pos++;
        if (c == '{') {
            if (!openGroup())
                return fail("groups nested too deeply");
        } else if (c == '}') {
            finished = !closeGroup();
        } else if (c == '\\') {
            if (m_pos < m_end && isLetter(*m_pos))
                controlWord();
            else if (m_pos < m_end)
                controlSymbol(*m_pos++);
        } else {
            textByte(c);
        }
    }
    if (!finished)
        return fail("unbalanced groups");
    for (; m_pos < m_end; ++m_pos) {
        if (*m_pos != ' ' && *m_pos != '\t' && *m_pos != '\r' && *m_pos != '\n')
            return fail("text after the end of the document");
    }
    endParagraph();
    return true;
}

bool RtfParser::openGroup()
{
    if (int(m_stack.size()) >= maxDepth)
        return false;
    flush();
    m_stack.push_back(m_state);
    m_fallbackLeft = 0;
    m_ignorableGroup = false;
    return true;
}

// Returns false when the outermost group has closed.
bool RtfParser::closeGroup()
{
    flush();
    m_fallbackLeft = 0;
    if (m_state.destination == Destination::ColourTable && m_red + m_green + m_blue > -3)
        textByte(';'); // a last entry without its semicolon still counts
    m_ignorableGroup = false;
    const Qt::Alignment alignment = m_state.alignment;
    m_state = m_stack.back();
    m_stack.pop_back();
    if (m_stack.empty()) {
        m_state.alignment = alignment; // the last paragraph ends with the document
        return false;
    }
    return true;
}

void RtfParser::controlWord()
{
    const char *start = m_pos;
    while (m_pos < m_end && isLetter(*m_pos))
        ++m_pos;
    const std::string_view name(start, m_pos - start);
    bool negative = false;
    if (m_pos + 1 < m_end && *m_pos == '-' && isDigit(m_pos[1])) {
        negative = true;
        ++m_pos;
    }
    bool hasParameter = false;
    int parameter = 0;
    while (m_pos < m_end && isDigit(*m_pos)) {
        hasParameter = true;
        parameter = int(std::min<long long>(maxParameter, parameter * 10LL + (*m_pos++ - '0')));
    }
    if (negative)
        parameter = -parameter;
    if (m_pos < m_end && *m_pos == ' ')
        ++m_pos;

    const WordMeaning meaning = rtf::findControlWord(name);
    if (meaning.word == Word::Binary) {
        m_pos += std::clamp<qsizetype>(parameter, 0, m_end - m_pos); // raw bytes, never parsed
        return;
    }
    if (m_fallbackLeft > 0) {
        --m_fallbackLeft;
        return;
    }
    if (m_ignorableGroup || meaning.word == Word::Destination) {
        m_state.destination = Destination::Skip; // \* marks a destination we may ignore
        return;
    }
    if (m_state.destination != Destination::Skip)
        applyWord(meaning, hasParameter, parameter);
}

void RtfParser::applyWord(WordMeaning meaning, bool hasParameter, int parameter)
{
    const bool on = !hasParameter || parameter != 0;
    const bool inText = m_state.destination == Destination::Text;
    auto setFormat = [this](auto member, auto value) {
        flush();
        m_state.*member = value;
    };
    switch (meaning.word) {
    case Word::Par: endParagraph(); break;
    case Word::Line: putCharacter(QChar::LineSeparator); break;
    case Word::Tab: putCharacter(QLatin1Char('\t')); break;
    case Word::Symbol: putCharacter(QChar(char16_t(meaning.value))); break;
    case Word::Bold: setFormat(&GroupState::bold, on); break;
    case Word::Italic: setFormat(&GroupState::italic, on); break;
    case Word::Underline: setFormat(&GroupState::underline, on); break;
    case Word::UnderlineNone: setFormat(&GroupState::underline, false); break;
    case Word::StrikeOut: setFormat(&GroupState::strikeOut, on); break;
    case Word::Plain: {
        flush();
        const GroupState plain;
        m_state.bold = plain.bold;
        m_state.italic = plain.italic;
        m_state.underline = plain.underline;
        m_state.strikeOut = plain.strikeOut;
        m_state.halfPoints = plain.halfPoints;
        m_state.colour = plain.colour;
        break;
    }
    case Word::FontSize:
        setFormat(&GroupState::halfPoints,
            parameter > 0 ? std::clamp(parameter, minHalfPoints, maxHalfPoints) : 0);
        break;
    case Word::Colour: setFormat(&GroupState::colour, std::max(parameter, 0)); break;
    case Word::Red: m_red = std::clamp(parameter, 0, 255); break;
    case Word::Green: m_green = std::clamp(parameter, 0, 255); break;
    case Word::Blue: m_blue = std::clamp(parameter, 0, 255); break;
    case Word::ColourTable:
        m_state.destination = Destination::ColourTable;
        m_colours.clear();
        break;
    case Word::Pard: m_state.alignment = Qt::AlignLeft; break;
    case Word::Align: m_state.alignment = Qt::Alignment(meaning.value); break;
    case Word::Unicode:
        if (inText) {
            // A signed 16-bit value; anything outside that range is not a character.
            const int code = parameter < 0 ? parameter + 65536 : parameter;
            putCharacter(
                code >= 0 && code <= 0xFFFF ? QChar(char16_t(code)) : QChar::ReplacementCharacter);
            m_fallbackLeft = m_state.fallbackLength;
        }
        break;
    case Word::FallbackLength: m_state.fallbackLength = std::clamp(parameter, 0, 16); break;
    case Word::Unknown:
    case Word::Binary:
    case Word::Destination: break;
    }
}

void RtfParser::controlSymbol(char symbol)
{
    if (symbol == '\'') {
        hexCharacter();
        return;
    }
    if (m_fallbackLeft > 0) {
        --m_fallbackLeft;
        return;
    }
    switch (symbol) {
    case '*': m_ignorableGroup = true; break;
    case '\\':
    case '{':
    case '}': putCharacter(QLatin1Char(symbol)); break;
    case '~': putCharacter(QChar::Nbsp); break;
    case '-': putCharacter(QChar::SoftHyphen); break;
    case '_': putCharacter(QChar(0x2011)); break;
    case '\r':
    case '\n': endParagraph(); break;
    default: break; // other symbols carry nothing to show
    }
}

void RtfParser::hexCharacter()
{
    int value = 0;
    int digits = 0;
    for (; digits < 2 && m_pos < m_end && hexDigitValue(*m_pos) >= 0; ++digits)
        value = value * 16 + hexDigitValue(*m_pos++);
    if (m_fallbackLeft > 0) {
        --m_fallbackLeft;
        return;
    }
    if (digits == 2)
        putCharacter(charFromCp1252(std::uint8_t(value)));
}

void RtfParser::textByte(char byte)
{
    if (byte == '\r' || byte == '\n')
        return;
    if (m_fallbackLeft > 0) {
        --m_fallbackLeft;
        return;
    }
    if (m_state.destination == Destination::ColourTable && byte == ';') {
        m_colours.push_back(m_red + m_green + m_blue > -3
                ? QColor(std::max(m_red, 0), std::max(m_green, 0), std::max(m_blue, 0))
                : QColor());
        m_red = m_green = m_blue = -1;
        return;
    }
    putCharacter(charFromCp1252(static_cast<std::uint8_t>(byte)));
}

void RtfParser::putCharacter(QChar character)
{
    if (m_state.destination != Destination::Text || !m_cursor)
        return;
    if (m_pending.size() >= m_room) {
        m_cut = true; // the rest is read for its structure only
        return;
    }
    const char16_t code = character.unicode();
    if (code < 0x20 && code != '\t')
        return; // control characters have no place in the text
    // The document marks frames and objects with these; as text they would confuse its layout.
    const bool reserved =
        code == 0xFDD0 || code == 0xFDD1 || code == QChar::ObjectReplacementCharacter;
    m_pending.append(reserved ? QChar(QChar::ReplacementCharacter) : character);
}

void RtfParser::endParagraph()
{
    if (m_state.destination != Destination::Text || !m_cursor)
        return;
    flush();
    if (m_room < 1 || m_blocks >= AboutTextLines) {
        m_cut = true;
        return;
    }
    QTextBlockFormat block = m_cursor->blockFormat();
    block.setAlignment(m_state.alignment);
    m_cursor->setBlockFormat(block);
    if (!m_stack.empty()) {
        m_cursor->insertBlock();
        --m_room;
        ++m_blocks;
    }
}

void RtfParser::flush()
{
    if (m_pending.isEmpty() || !m_cursor)
        return;
    if (m_pending.size() > m_room) {
        m_cut = true;
        m_pending.truncate(std::max<qsizetype>(0, m_room));
        if (!m_pending.isEmpty() && m_pending.back().isHighSurrogate())
            m_pending.chop(1); // never half a character
    }
    m_room -= m_pending.size();
    for (qsizetype i = 0; i < m_pending.size(); ++i) {
        const QChar c = m_pending.at(i);
        const bool pairedHigh =
            c.isHighSurrogate() && i + 1 < m_pending.size() && m_pending.at(i + 1).isLowSurrogate();
        if (pairedHigh)
            ++i;
        else if (c.isSurrogate())
            m_pending[i] = QChar::ReplacementCharacter; // a lone half is no character
    }
    QTextCharFormat format;
    format.setFontWeight(m_state.bold ? QFont::Bold : QFont::Normal);
    format.setFontItalic(m_state.italic);
    format.setFontUnderline(m_state.underline);
    format.setFontStrikeOut(m_state.strikeOut);
    if (m_state.halfPoints > 0)
        format.setFontPointSize(m_state.halfPoints / 2.0);
    if (m_state.colour > 0 && m_state.colour < int(m_colours.size()) &&
        m_colours[m_state.colour].isValid())
        format.setForeground(m_colours[m_state.colour]);
    m_cursor->insertText(m_pending, format);
    m_pending.clear();
}

// readRtf, telling through cut (when given) whether the text was longer than the document
// takes.
bool readRtfInto(const QByteArray &bytes, QTextDocument *document, QString *error, bool *cut)
{
    if (!RtfParser(bytes, nullptr).parse(error))
        return false;
    document->clear();
    QTextCursor cursor(document);
    cursor.beginEditBlock();
    RtfParser parser(bytes, &cursor);
    parser.parse(nullptr);
    cursor.endEditBlock();
    if (cut)
        *cut = parser.wasCut();
    return true;
}

} // namespace

bool readRtf(const QByteArray &bytes, QTextDocument *document, QString *error)
{
    return readRtfInto(bytes, document, error, nullptr);
}

bool AssignViaStream(QTextDocument *document, const std::vector<std::string> &lines)
{
    QByteArray stream;
    for (const std::string &line : lines) {
        stream.append(line.data(), qsizetype(line.size()));
        stream.append("\r\n");
    }
    bool cut = false;
    if (readRtfInto(stream, document, nullptr, &cut))
        return cut;
    QString text;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const QString line = fromCp1252(lines[i]);
        const qsizetype separator = i > 0 ? 1 : 0;
        if (i >= std::size_t(AboutTextLines) ||
            text.size() + separator + line.size() > AboutTextCharacters) {
            cut = true;
            break;
        }
        if (separator)
            text.append(QLatin1Char('\n'));
        text.append(line);
    }
    document->setPlainText(text);
    return cut;
}
