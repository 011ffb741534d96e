#include "Ufrm_BrainF_ck.h"

#include "codepage.h"
#include "codeview.h"
#include "console.h"
#include "customwidgets.h"
#include "debugsession.h"
#include "dialectsettings.h"
#include "findbar.h"
#include "linebreaks.h"
#include "messages.h"
#include "sourcedocument.h"
#include "sourceprep.h"
#include "windowconfiguration.h"
#include "windowdialogs.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QTimer>

namespace {

// The code pane offset of the first bracket compiling finds unpaired: a "]" with no "[" open,
// or else the first "[" never closed.
int unpairedBracket(const QTextDocument &document)
{
    const QString text = SoftBreaks::sourceText(document);
    const SourceMap map = mapSource(toCp1252(text));
    std::vector<std::size_t> open;
    for (const std::size_t offset : map.commands) {
        const QChar c = text.at(qsizetype(offset));
        if (c == QLatin1Char('[')) {
            open.push_back(offset);
        } else if (c == QLatin1Char(']')) {
            if (open.empty())
                return int(offset);
            open.pop_back();
        }
    }
    return open.empty() ? -1 : int(open.front());
}

} // namespace

QString Tfrm_BF_IDE::codeText() const
{
    return textWithCrLf(*re_code->document());
}

void Tfrm_BF_IDE::setCodeText(const QString &text, bool undoable)
{
    m_document->replaceText(text, undoable);
    // A new text: the breakpoints of the old one would all land at its start.
    m_session->textReplaced();
    showDebugState();
}

void Tfrm_BF_IDE::kn_loadClick()
{
    compileCode();
}

int Tfrm_BF_IDE::compileCode()
{
    if (m_run.isRunning())
        return -1; // loading code now would pull the program from under the running engine
    if (!m_session->end()) // the program under the debugger is replaced
        return -1;
    bf_Engine->m_configuredTapeSize = m_config->settings().dataSize;
    bf_Engine->m_cellRange = m_config->settings().cellRange;
    const std::string source = prepareSource(toCp1252(codeText()));
    if (source.empty())
        return -1;
    bf_Engine->LoadCode(source);
    m_session->codeCompiled();
    const int result = bf_Engine->MatchBrackets();
    m_run.compiled(result == ResultOk ? -1 : unpairedBracket(*re_code->document()));
    if (result != ResultOk)
        bf_OutLine(m_config->errorText(result));
    // The settings a run takes, for a start under the debugger.
    bf_Engine->m_dialect = m_dialect->dialect();
    bf_Engine->m_dataWrap = m_config->settings().dataWrap;
    bf_Engine->m_valueWrap = m_config->settings().valueWrap;
    showDebugState();
    return result;
}

void Tfrm_BF_IDE::kn_runClick()
{
    // A second run from within a run would replace the tape the running program still uses,
    // so run is ignored until the run in progress has ended.
    if (m_run.isRunning() || bf_Engine->m_codeArrayLength == 0)
        return;
    if (!m_session->end()) // a plain run takes the engine's tape
        return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    bf_Engine->m_dialect = m_dialect->dialect();
    bf_Engine->m_dataWrap = m_config->settings().dataWrap;
    bf_Engine->m_valueWrap = m_config->settings().valueWrap;
    bf_Engine->m_breakFlag = false;
    m_run.setRunning(true);
    m_console->startRun();
    showDebugState(); // the debugger's commands wait for the run to end
    // However the run ends (also by a bad number typed as input, which skips the closing line
    // break and the error line), the window returns to its idle state.
    const auto backToIdle = qScopeGuard([this] {
        bf_Engine->FreeData();
        if (ed_bf_Input->isEnabled())
            m_console->setWaiting(false);
        m_console->flush();
        QApplication::restoreOverrideCursor();
        m_run.setRunning(false);
        showDebugState();
        if (m_run.isCloseRequested())
            QTimer::singleShot(0, this, &QWidget::close);
    });
    const int result = bf_Engine->Run();
    bf_OutChar(13);
    bf_Engine->FreeData();
    if (result != ResultOk)
        bf_OutLine(m_config->errorText(result));
}

void Tfrm_BF_IDE::kn_Break1Click()
{
    bf_Engine->m_breakFlag = true;
}

void Tfrm_BF_IDE::re_codeChange()
{
    m_session->codeEdited();
    if (m_run.codeChanged())
        showDebugState();
}

void Tfrm_BF_IDE::N1HelloWorld1Click(QAction *item)
{
    const QString caption = item->text();
    if (caption.isEmpty() || caption.front() < QLatin1Char('0') ||
        caption.front() > QLatin1Char('9'))
        return;
    LoadExample(
        convertToInteger(CopyBefore(caption.left(255), QStringLiteral(" ")), m_config->messages()));
}

void Tfrm_BF_IDE::LoadExample(int n)
{
    const std::optional<QString> example = m_config->example(n);
    if (!example)
        return; // only numbers of the catalogue are ever read
    setCodeText(*example);
    re_codeChange();
}

void Tfrm_BF_IDE::pm_bf_FileopenClick()
{
    const QString path = m_dialogs->chooseFile(*od_bf_fileopen, m_document->openDialogName());
    if (path.isEmpty())
        return;
    m_document->open(path);
    m_session->textReplaced();
    re_codeChange();
    od_bf_filesave->setDirectory(od_bf_fileopen->directory());
}

void Tfrm_BF_IDE::pm_bf_FilesaveClick()
{
    const QString path = m_dialogs->chooseFile(*od_bf_filesave, m_document->saveDialogName());
    if (path.isEmpty())
        return;
    saveCodeTo(path);
}

void Tfrm_BF_IDE::fileSaveShortcut()
{
    if (m_document->fileName().isEmpty())
        pm_bf_FilesaveClick();
    else
        saveCodeTo(m_document->fileName());
}

void Tfrm_BF_IDE::saveCodeTo(const QString &path)
{
    const QString said = m_document->saveTo(path);
    if (!said.isEmpty())
        m_dialogs->report(said);
}

void Tfrm_BF_IDE::pm_bf_FilterCodeClick()
{
    QTextCursor cursor = re_code->textCursor();
    if (!cursor.hasSelection())
        return;
    const QString selected = cursor.selectedText();
    QString block = QStringLiteral("\n\n");
    qsizetype commands = 0;
    for (const QChar c : selected) {
        if (QStringView(u"+-<>,.[]").contains(c)) {
            block += c;
            if (++commands % 64 == 0)
                block += QLatin1Char('\n');
        }
    }
    block += QLatin1Char('\n');
    if (re_code->wouldExceedLimit(block.size(), selected.size()))
        re_code->refuseText();
    // The selection becomes one line break with the block after it, as a single edit.
    if (re_code->softBreaks().any())
        re_code->softBreaks().insert(cursor, block);
    else
        cursor.insertText(block);
    re_code->setTextCursor(cursor);
}

void Tfrm_BF_IDE::pm_bf_DisasmClick()
{
    // Built only as far as the pane can take it (one byte per character, and the line break
    // bf_OutLine adds): a huge listing is refused before it fills memory.
    const std::optional<std::string> listing =
        bf_Engine->disassembleWithin(static_cast<std::size_t>(re_outp->roomLeft(1)));
    if (!listing)
        re_outp->refuseText();
    bf_OutLine(fromCp1252(*listing));
}

void Tfrm_BF_IDE::pm3_clearClick()
{
    m_console->restart(QStringLiteral("(Outp)\r\n \r\n"));
}

void Tfrm_BF_IDE::setUpCodeNavigation()
{
    m_findBar = new FindBar(
        *re_code, [this](const std::function<void()> &command) { runGuarded(command); });
    addActions(m_findBar->keyActions());
    connect(new LineClicks(re_outp), &LineClicks::lineClicked, this,
        guarded([this](const QString &line) {
            if (line == m_config->errorText(ResultTooManyClosing) ||
                line == m_config->errorText(ResultTooFewClosing))
                goToFaultBracket();
        }));
    connect(m_session.get(), &DebugSession::bracketFaultChosen, this,
        guarded([this] { goToFaultBracket(); }));
}

void Tfrm_BF_IDE::goToFaultBracket()
{
    const int faultBracket = m_run.faultBracket();
    if (faultBracket < 0 ||
        faultBracket >= re_code->softBreaks().toSource(re_code->document()->characterCount() - 1))
        return;
    re_code->goTo(faultBracket);
    re_code->activateWindow();
    re_code->setFocus();
}
