#include "Ufrm_BrainF_ck.h"

#include "codepage.h"
#include "codeview.h"
#include "console.h"
#include "customwidgets.h"
#include "debugsession.h"

#include <QAction>
#include <QApplication>
#include <QKeySequence>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

namespace {

struct CommandEntry
{
    const char *name;
    std::string DebuggerTexts::*caption;
    QKeySequence keys;
    WindowCommand command;
};

// The debugger's run-control commands, with the key conventions of the common desktop IDEs.
const CommandEntry debugCommands[] = {
    {"dbg_Continue", &DebuggerTexts::continueRun, QKeySequence(Qt::Key_F5),
        WindowCommand::Continue},
    {"dbg_Pause", &DebuggerTexts::pause, QKeySequence(), WindowCommand::Pause},
    {"dbg_Stop", &DebuggerTexts::stop, QKeySequence(Qt::SHIFT | Qt::Key_F5), WindowCommand::Stop},
    {"dbg_RunToCaret", &DebuggerTexts::runToCaret, QKeySequence(Qt::CTRL | Qt::Key_F10),
        WindowCommand::RunToCaret},
    {"dbg_ToggleBreakpoint", &DebuggerTexts::toggleBreakpoint, QKeySequence(Qt::Key_F9),
        WindowCommand::ToggleBreakpoint},
    {"dbg_StepInto", &DebuggerTexts::stepInto, QKeySequence(Qt::Key_F11), WindowCommand::StepInto},
    {"dbg_StepOver", &DebuggerTexts::stepOver, QKeySequence(Qt::Key_F10), WindowCommand::StepOver},
    {"dbg_StepOut", &DebuggerTexts::stepOut, QKeySequence(Qt::SHIFT | Qt::Key_F11),
        WindowCommand::StepOut},
    {"dbg_StepBack", &DebuggerTexts::stepBack, QKeySequence(), WindowCommand::StepBack},
    {"dbg_Reverse", &DebuggerTexts::reverseContinue, QKeySequence(), WindowCommand::Reverse},
};

} // namespace

void Tfrm_BF_IDE::setUpDebugger(const DebuggerTexts &texts)
{
    const bool created = !m_debugCommands.isEmpty();
    for (std::size_t i = 0; i < std::size(debugCommands); ++i) {
        const CommandEntry &entry = debugCommands[i];
        QAction *action = created ? m_debugCommands.at(qsizetype(i)) : new QAction(this);
        const QString caption = fromCp1252(texts.*entry.caption);
        action->setText(caption);
        // The key shows on the button, as the common IDEs show it.
        action->setIconText(entry.keys.isEmpty()
                ? caption
                : caption + QStringLiteral("  ") + entry.keys.toString(QKeySequence::NativeText));
        if (created)
            continue;
        action->setObjectName(QLatin1String(entry.name));
        action->setShortcut(entry.keys);
        action->setShortcutContext(Qt::WindowShortcut);
        const WindowCommand command = entry.command;
        connect(action, &QAction::triggered, this,
            guarded([this, command] { runDebugCommand(command); }));
        addAction(action); // the keys work in the main window, and in the debugger's
        m_debugCommands.append(action);
    }
    m_session->setTexts(texts, m_debugCommands);
    showDebugState();
}

WindowState Tfrm_BF_IDE::windowState() const
{
    if (m_session && m_session->exists()) {
        if (m_session->isWaiting())
            return WindowState::DebugWaiting;
        if (m_session->isLegRunning())
            return WindowState::DebugRunning;
        if (m_session->codeChanged())
            return WindowState::DebugEdited;
        return m_session->isLive() ? WindowState::DebugPaused : WindowState::DebugEnded;
    }
    return m_run.state(m_console->isWaiting());
}

void Tfrm_BF_IDE::updateCommands()
{
    const WindowState state = windowState();
    const auto enabled = [&](WindowCommand command) {
        return isCommandEnabled(state, command, m_run.isCompiled());
    };
    kn_load->setEnabled(enabled(WindowCommand::Compile));
    kn_run->setEnabled(enabled(WindowCommand::Run));
    for (QAction *item : {PMC_RUN.data(), m_compileItem.data()}) {
        if (item)
            item->setEnabled(
                enabled(item == m_compileItem ? WindowCommand::Compile : WindowCommand::Run));
    }
    if (PMC_DisAsm)
        PMC_DisAsm->setEnabled(enabled(WindowCommand::Disassemble));
    kn_Break->setVisible(enabled(WindowCommand::Break));
    for (qsizetype i = 0; i < m_debugCommands.size(); ++i)
        m_debugCommands.at(i)->setEnabled(enabled(debugCommands[i].command));
}

void Tfrm_BF_IDE::runDebugCommand(WindowCommand command)
{
    switch (commandEffect(windowState(), command)) {
    case CommandEffect::None: return;
    case CommandEffect::StartsAfresh:
        if (!m_session->startAfresh() || m_session->isDoneAtStart(command))
            return;
        break;
    default: break;
    }
    m_session->act(command);
}

void Tfrm_BF_IDE::pm_bf_DebugClick()
{
    m_session->showWindow();
}

void Tfrm_BF_IDE::showDebugState()
{
    if (!m_session)
        return;
    m_session->refresh();
    showDebugMarkers();
    updateCommands();
}

void Tfrm_BF_IDE::showDebugMarkers()
{
    m_session->showMarks(editorMarks());
}

QList<QTextEdit::ExtraSelection> Tfrm_BF_IDE::editorMarks() const
{
    QList<QTextEdit::ExtraSelection> marks;
    const auto mark = [&](int offset, const QColor &background) {
        QTextEdit::ExtraSelection selection;
        selection.cursor = QTextCursor(re_code->document());
        selection.cursor.setPosition(offset);
        selection.cursor.movePosition(QTextCursor::NextCharacter, QTextCursor::KeepAnchor);
        selection.format.setBackground(background);
        marks.append(selection);
    };
    // The bracket at the caret or just before it, and its partner.
    const QTextCursor caret = re_code->textCursor();
    const SoftBreaks &breaks = re_code->softBreaks();
    const int before = breaks.toSource(caret.position()) - 1; // across a soft break
    for (const int at : {caret.position(), before < 0 ? -1 : breaks.toDocument(before)}) {
        const QChar c = re_code->document()->characterAt(at);
        if ((c != QLatin1Char('[') && c != QLatin1Char(']')) || !re_code->isCommandAt(at))
            continue;
        const int partner = re_code->bracketPartner(at);
        mark(at, partner >= 0 ? QColor(190, 235, 190) : QColor(255, 190, 190));
        if (partner >= 0)
            mark(partner, QColor(190, 235, 190));
        break;
    }
    // The caret moves within an edit before the pane reports the change: the offset may
    // already be past the text.
    const int faultBracket = m_run.faultBracket();
    if (faultBracket >= 0 &&
        faultBracket < breaks.toSource(re_code->document()->characterCount() - 1)) {
        QTextEdit::ExtraSelection fault;
        fault.cursor = QTextCursor(re_code->document());
        fault.cursor.setPosition(breaks.toDocument(faultBracket));
        fault.cursor.movePosition(QTextCursor::NextCharacter, QTextCursor::KeepAnchor);
        fault.format.setUnderlineStyle(QTextCharFormat::WaveUnderline);
        fault.format.setUnderlineColor(Qt::red);
        fault.format.setBackground(QColor(255, 170, 170));
        marks.append(fault);
    }
    return marks;
}
