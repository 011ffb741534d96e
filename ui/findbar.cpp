#include "findbar.h"

#include "codepage.h"
#include "codeview.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTextBlock>

namespace {

// The selection of a match (source offsets) is replaced: a commands-only match loses its
// commands, and the replacement takes the first one's place, so the comments and layout between
// them stay. Matches are replaced from the last: an edit moves no soft break before it.
void replaceMatch(
    QTextCursor &cursor, const SoftBreaks &breaks, const TextMatch &match, const QString &with)
{
    if (match.commands.empty()) {
        cursor.setPosition(breaks.toDocument(match.start));
        cursor.setPosition(breaks.toDocument(match.end), QTextCursor::KeepAnchor);
        breaks.removeSelection(cursor);
    } else {
        for (auto at = match.commands.rbegin(); at != match.commands.rend(); ++at) {
            cursor.setPosition(breaks.toDocument(*at));
            cursor.setPosition(breaks.toDocument(*at) + 1, QTextCursor::KeepAnchor);
            cursor.removeSelectedText();
        }
        cursor.setPosition(breaks.toDocument(match.start));
    }
    cursor.insertText(with);
}

qsizetype removedBy(const TextMatch &match)
{
    return match.commands.empty() ? match.end - match.start : qsizetype(match.commands.size());
}

} // namespace

FindBar::FindBar(CodePane &pane, std::function<void(const std::function<void()> &)> guard)
    : QFrame(&pane)
    , m_pane(pane)
    , m_guard(std::move(guard))
{
    setObjectName(QStringLiteral("pn_Find"));
    setFrameStyle(QFrame::StyledPanel | QFrame::Raised);
    setAutoFillBackground(true);
    setFont(pane.window()->font()); // a bar of the window, not text of the pane
    setCursor(Qt::ArrowCursor);
    setUpFields();
    setUpActions();
    setTexts(m_texts);
    pane.installEventFilter(this);
    hide();
}

void FindBar::setUpFields()
{
    const auto field = [this](const char *name) {
        auto *edit = new QLineEdit(this);
        edit->setObjectName(QLatin1String(name));
        edit->setMinimumWidth(60);
        return edit;
    };
    const auto button = [this](const char *name) {
        auto *push = new QPushButton(this);
        push->setObjectName(QLatin1String(name));
        push->setAutoDefault(false);
        return push;
    };
    m_find = field("ed_Find");
    m_replace = field("ed_Replace");
    m_line = field("ed_GoToLine");
    m_findLabel = new QLabel(this);
    m_replaceLabel = new QLabel(this);
    m_lineLabel = new QLabel(this);
    m_previous = button("kn_FindPrevious");
    m_next = button("kn_FindNext");
    m_replaceOne = button("kn_Replace");
    m_replaceAll = button("kn_ReplaceAll");
    m_go = button("kn_GoToLine");
    m_close = button("kn_FindClose");
    m_close->setText(QStringLiteral("\u2715"));
    m_close->setFlat(true);
    m_caseSensitive = new QCheckBox(this);
    m_caseSensitive->setObjectName(QStringLiteral("cb_CaseSensitive"));
    m_commandsOnly = new QCheckBox(this);
    m_commandsOnly->setObjectName(QStringLiteral("cb_CommandsOnly"));
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("lb_FindStatus"));

    auto *grid = new QGridLayout(this);
    grid->setContentsMargins(6, 4, 4, 4);
    grid->setSpacing(4);
    grid->addWidget(m_findLabel, 0, 0);
    grid->addWidget(m_find, 0, 1);
    grid->addWidget(m_previous, 0, 2);
    grid->addWidget(m_next, 0, 3);
    grid->addWidget(m_close, 0, 4);
    grid->addWidget(m_replaceLabel, 1, 0);
    grid->addWidget(m_replace, 1, 1);
    grid->addWidget(m_replaceOne, 1, 2);
    grid->addWidget(m_replaceAll, 1, 3);
    grid->addWidget(m_lineLabel, 2, 0);
    grid->addWidget(m_line, 2, 1);
    grid->addWidget(m_go, 2, 2);
    auto *options = new QHBoxLayout;
    options->addWidget(m_caseSensitive);
    options->addWidget(m_commandsOnly);
    options->addStretch();
    grid->addLayout(options, 3, 0, 1, 5);
    grid->addWidget(m_status, 4, 0, 1, 5);

    const auto command = [this](const std::function<void()> &what) {
        return [this, what] { m_guard(what); };
    };
    const auto shifted = [] {
        return QApplication::keyboardModifiers().testFlag(Qt::ShiftModifier);
    };
    connect(m_next, &QPushButton::clicked, this, command([this] { findNext(false); }));
    connect(m_previous, &QPushButton::clicked, this, command([this] { findNext(true); }));
    connect(
        m_find, &QLineEdit::returnPressed, this, command([this, shifted] { findNext(shifted()); }));
    // Found while typed: from where the selection starts, so that the match grows with it.
    connect(m_find, &QLineEdit::textEdited, this, command([this] {
        QTextCursor caret = m_pane.textCursor();
        caret.setPosition(caret.selectionStart());
        m_pane.setTextCursor(caret);
        if (!m_find->text().isEmpty())
            findNext(false);
    }));
    connect(m_replaceOne, &QPushButton::clicked, this, command([this] { replaceOne(); }));
    connect(m_replace, &QLineEdit::returnPressed, this, command([this] { replaceOne(); }));
    connect(m_replaceAll, &QPushButton::clicked, this, command([this] { replaceAll(); }));
    connect(m_go, &QPushButton::clicked, this, command([this] { goToLine(m_line->text()); }));
    connect(m_line, &QLineEdit::returnPressed, this, command([this] { goToLine(m_line->text()); }));
    connect(m_close, &QPushButton::clicked, this, [this] { close(); });
    connect(m_commandsOnly, &QCheckBox::toggled, this,
        [this](bool on) { m_caseSensitive->setEnabled(!on); }); // commands have no case
}

void FindBar::setUpActions()
{
    const std::pair<QKeySequence, std::function<void()>> keys[] = {
        {QKeySequence(Qt::CTRL | Qt::Key_F), [this] { open(Mode::Find); }},
        {QKeySequence(Qt::Key_F3), [this] { findNext(false); }},
        {QKeySequence(Qt::SHIFT | Qt::Key_F3), [this] { findNext(true); }},
        {QKeySequence(Qt::CTRL | Qt::Key_H), [this] { open(Mode::Replace); }},
        {QKeySequence(Qt::CTRL | Qt::Key_G), [this] { open(Mode::GoTo); }},
    };
    const char *const names[] = {
        "ac_Find", "ac_FindNext", "ac_FindPrevious", "ac_Replace", "ac_GoToLine"};
    for (std::size_t i = 0; i < std::size(keys); ++i) {
        auto *action = new QAction(this);
        action->setObjectName(QLatin1String(names[i]));
        action->setShortcut(keys[i].first);
        action->setShortcutContext(Qt::WindowShortcut);
        const std::function<void()> what = keys[i].second;
        connect(action, &QAction::triggered, this, [this, what] { m_guard(what); });
        m_actions.append(action);
    }
}

void FindBar::setTexts(const EditorTexts &texts)
{
    m_texts = texts;
    const auto keyOf = [this](int action) {
        return m_actions.at(action)->shortcut().toString(QKeySequence::NativeText);
    };
    m_findLabel->setText(fromCp1252(texts.find));
    m_replaceLabel->setText(fromCp1252(texts.replaceWith));
    m_lineLabel->setText(fromCp1252(texts.goToLine));
    m_next->setText(fromCp1252(texts.next));
    m_next->setToolTip(keyOf(1));
    m_previous->setText(fromCp1252(texts.previous));
    m_previous->setToolTip(keyOf(2));
    m_replaceOne->setText(fromCp1252(texts.replace));
    m_replaceAll->setText(fromCp1252(texts.replaceAll));
    m_go->setText(fromCp1252(texts.go));
    m_close->setToolTip(fromCp1252(texts.close) + QStringLiteral("  Esc"));
    m_caseSensitive->setText(fromCp1252(texts.caseSensitive));
    m_commandsOnly->setText(fromCp1252(texts.commandsOnly));
}

void FindBar::open(Mode mode)
{
    m_mode = mode;
    const bool finding = mode != Mode::GoTo;
    const auto showAll = [](std::initializer_list<QWidget *> parts, bool shown) {
        for (QWidget *part : parts)
            part->setVisible(shown);
    };
    showAll({m_findLabel, m_find, m_previous, m_next, m_caseSensitive, m_commandsOnly}, finding);
    showAll({m_replaceLabel, m_replace, m_replaceOne, m_replaceAll}, mode == Mode::Replace);
    showAll({m_lineLabel, m_line, m_go}, !finding);
    QLineEdit *field = finding ? m_find : m_line;
    const QTextCursor caret = m_pane.textCursor();
    const SoftBreaks &breaks = m_pane.softBreaks();
    // The selection as the source has it: a soft break is no line break.
    const QString selected = breaks.any()
        ? breaks.sourceBetween(caret.selectionStart(), caret.selectionEnd(), true)
        : caret.selectedText();
    if (finding && caret.hasSelection() && !selected.contains(QChar::ParagraphSeparator))
        m_find->setText(selected);
    if (!finding) {
        const int line = breaks.lineOf(caret.block());
        const int column =
            breaks.toSource(caret.position()) - breaks.toSource(breaks.lineStart(line).position());
        m_line->setText(QStringLiteral("%1:%2").arg(line + 1).arg(column + 1));
    }
    show();
    raise();
    say(std::string()); // places the bar too
    field->setFocus();
    field->selectAll();
}

void FindBar::place()
{
    const QRect area = m_pane.contentsRect();
    setGeometry(area.left(), area.top(), area.width(), sizeHint().height());
    m_pane.setTopMargin(height());
}

void FindBar::close()
{
    hide();
    m_pane.setTopMargin(0);
    m_pane.setFocus();
}

void FindBar::say(const std::string &text, const QString &number)
{
    const QString said = fromCp1252(text);
    m_status->setText(number.isEmpty() ? said : said.arg(number));
    m_status->setVisible(!said.isEmpty());
    if (isVisible())
        place();
}

QString FindBar::status() const
{
    return m_status->text();
}

SearchOptions FindBar::options() const
{
    return {m_caseSensitive->isChecked(), m_commandsOnly->isChecked()};
}

void FindBar::select(const TextMatch &match)
{
    const SoftBreaks &breaks = m_pane.softBreaks();
    QTextCursor cursor(m_pane.document());
    cursor.setPosition(breaks.toDocument(match.start));
    cursor.setPosition(breaks.toDocument(match.end), QTextCursor::KeepAnchor);
    m_pane.setTextCursor(cursor);
    m_pane.ensureCursorVisible();
}

bool FindBar::findNext(bool backward)
{
    const QString pattern = m_find->text();
    if (pattern.isEmpty()) {
        open(Mode::Find);
        return false;
    }
    if (options().commandsOnly && !holdsCommand(pattern)) {
        say(m_texts.noCommands);
        return false;
    }
    const QTextCursor caret = m_pane.textCursor();
    const SoftBreaks &breaks = m_pane.softBreaks();
    bool wrapped = false;
    const TextMatch match = ::findNext(breaks.sourceText(), pattern,
        breaks.toSource(backward ? caret.selectionStart() : caret.selectionEnd()), backward,
        options(), &wrapped);
    if (!match.isValid()) {
        say(m_texts.notFound);
        return false;
    }
    select(match);
    say(wrapped ? m_texts.wrapped : std::string());
    return true;
}

void FindBar::replaceOne()
{
    const QTextCursor caret = m_pane.textCursor();
    const SoftBreaks &breaks = m_pane.softBreaks();
    const int start = breaks.toSource(caret.selectionStart());
    const TextMatch match = caret.hasSelection()
        ? ::findNext(breaks.sourceText(), m_find->text(), start, false, options())
        : TextMatch();
    if (match.isValid() && match.start == start &&
        match.end == breaks.toSource(caret.selectionEnd())) {
        const QString with = m_replace->text();
        if (m_pane.wouldExceedLimit(with.size(), removedBy(match)))
            m_pane.refuseText();
        QTextCursor edit(m_pane.document());
        edit.beginEditBlock();
        replaceMatch(edit, breaks, match, with);
        edit.endEditBlock();
        m_pane.setTextCursor(edit); // after the replacement, where the next search starts
    }
    findNext(false);
}

int FindBar::replaceAll()
{
    if (options().commandsOnly && !holdsCommand(m_find->text())) {
        say(m_texts.noCommands);
        return 0;
    }
    const SoftBreaks &breaks = m_pane.softBreaks();
    const std::vector<TextMatch> matches = findAll(breaks.sourceText(), m_find->text(), options());
    const QString with = m_replace->text();
    qsizetype removed = 0;
    for (const TextMatch &match : matches)
        removed += removedBy(match);
    if (m_pane.wouldExceedLimit(with.size() * qsizetype(matches.size()), removed))
        m_pane.refuseText();
    if (!matches.empty()) {
        QTextCursor edit(m_pane.document());
        edit.beginEditBlock(); // one step to undo
        for (auto match = matches.rbegin(); match != matches.rend(); ++match)
            replaceMatch(edit, breaks, *match, with);
        edit.endEditBlock();
    }
    say(m_texts.replaced, QString::number(matches.size()));
    return int(matches.size());
}

bool FindBar::goToLine(const QString &entry)
{
    static const QRegularExpression lineAndColumn(
        QStringLiteral("^\\s*(\\d{1,9})\\s*(?:[:,.\\s]\\s*(\\d{1,9}))?\\s*$"));
    const QRegularExpressionMatch parts = lineAndColumn.match(entry);
    if (!parts.hasMatch()) {
        say(m_texts.badLine);
        return false;
    }
    const SoftBreaks &breaks = m_pane.softBreaks();
    const int line = std::clamp(parts.captured(1).toInt(), 1, breaks.lineCount());
    const QTextBlock block = breaks.lineStart(line - 1);
    QTextBlock last = block; // of the line's chunks
    while (breaks.continues(last.next()))
        last = last.next();
    const int start = breaks.toSource(block.position());
    const int length = breaks.toSource(last.position() + last.length() - 1) - start;
    const int column =
        parts.captured(2).isEmpty() ? 1 : std::clamp(parts.captured(2).toInt(), 1, length + 1);
    m_pane.goTo(start + column - 1);
    close();
    return true;
}

bool FindBar::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == &m_pane && event->type() == QEvent::Resize && isVisible()) {
        place();
    } else if (watched == &m_pane && event->type() == QEvent::KeyPress && isVisible() &&
        static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape) {
        close();
        return true;
    }
    return QFrame::eventFilter(watched, event);
}

void FindBar::keyPressEvent(QKeyEvent *event)
{
    // Nothing typed here may reach the pane below, which would take it as typing.
    if (event->key() == Qt::Key_Escape)
        close();
    event->accept();
}
