#include "Ufrm_BrainF_ck.h"

#include "codepage.h"
#include "codeview.h"
#include "console.h"
#include "customwidgets.h"
#include "debugsession.h"
#include "linebreaks.h"
#include "messages.h"
#include "sourcefile.h"
#include "sourceprep.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalBlocker>
#include <QTimer>

namespace {

// The code pane offset of the first bracket compiling finds unpaired: a "]" with no "[" open,
// or else the first "[" never closed.
int unpairedBracket(const QTextDocument &document)
{
    const QString text = document.toPlainText();
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
    if (re_code->wouldExceedLimit(text.size(), re_code->document()->characterCount() - 1))
        re_code->refuseText();
    const QSignalBlocker quiet(re_code); // a replacement made by the program is no edit
    if (undoable) {
        // One edit: Ctrl+Z brings the text it replaced back.
        QTextCursor all(re_code->document());
        all.beginEditBlock();
        all.select(QTextCursor::Document);
        all.insertText(text);
        all.endEditBlock();
        all.movePosition(QTextCursor::Start);
        re_code->setTextCursor(all);
    } else {
        re_code->setPlainText(text);
    }
    // A new text: the breakpoints of the old one would all land at its start.
    m_session->textReplaced();
    showDebugState();
}

QString Tfrm_BF_IDE::errorText(int result) const
{
    if (result < 1 || result >= int(m_errorMessages.size()))
        return QString();
    return fromCp1252(m_errorMessages[std::size_t(result)]);
}

void Tfrm_BF_IDE::kn_loadClick()
{
    compileCode();
}

int Tfrm_BF_IDE::compileCode()
{
    if (m_running)
        return -1; // loading code now would pull the program from under the running engine
    if (!m_session->end()) // the program under the debugger is replaced
        return -1;
    bf_Engine->m_configuredTapeSize = m_settings.dataSize;
    bf_Engine->m_cellRange = m_settings.cellRange;
    const std::string source = prepareSource(toCp1252(codeText()));
    if (source.empty())
        return -1;
    bf_Engine->LoadCode(source);
    m_session->codeCompiled();
    const int result = bf_Engine->MatchBrackets();
    m_faultBracket = result == ResultOk ? -1 : unpairedBracket(*re_code->document());
    if (result != ResultOk)
        bf_OutLine(errorText(result));
    // The settings a run takes, for a start under the debugger.
    bf_Engine->m_dataWrap = m_settings.dataWrap;
    bf_Engine->m_valueWrap = m_settings.valueWrap;
    m_codeCompiled = true;
    showDebugState();
    return result;
}

void Tfrm_BF_IDE::kn_runClick()
{
    // A second run from within a run would replace the tape the running program still uses,
    // so run is ignored until the run in progress has ended.
    if (m_running || bf_Engine->m_codeArrayLength == 0)
        return;
    if (!m_session->end()) // a plain run takes the engine's tape
        return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    bf_Engine->m_dataWrap = m_settings.dataWrap;
    bf_Engine->m_valueWrap = m_settings.valueWrap;
    bf_Engine->m_breakFlag = false;
    m_running = true;
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
        m_running = false;
        showDebugState();
        if (m_closeRequested)
            QTimer::singleShot(0, this, &QWidget::close);
    });
    const int result = bf_Engine->Run();
    bf_OutChar(13);
    bf_Engine->FreeData();
    if (result != ResultOk)
        bf_OutLine(errorText(result));
}

void Tfrm_BF_IDE::kn_Break1Click()
{
    bf_Engine->m_breakFlag = true;
}

void Tfrm_BF_IDE::re_codeChange()
{
    m_session->codeEdited();
    if (m_codeCompiled) {
        m_codeCompiled = false;
        showDebugState();
    }
}

void Tfrm_BF_IDE::N1HelloWorld1Click(QAction *item)
{
    const QString caption = item->text();
    if (caption.isEmpty() || caption.front() < QLatin1Char('0') ||
        caption.front() > QLatin1Char('9'))
        return;
    LoadExample(convertToInteger(CopyBefore(caption.left(255), QStringLiteral(" "))));
}

void Tfrm_BF_IDE::LoadExample(int n)
{
    if (n < 1 || n > m_exampleCount || n >= m_examples.size())
        return; // only numbers of the catalogue are ever read
    setCodeText(m_examples.at(n));
    re_codeChange();
}

void Tfrm_BF_IDE::pm_bf_FileopenClick()
{
    const QString path = m_chooseFile(*od_bf_fileopen, m_openFileName);
    if (path.isEmpty())
        return;
    m_openFileName = path;
    const SourceText source = readSourceFile(path, re_code->characterLimit());
    setCodeText(source.text);
    re_code->document()->setModified(false); // as the file holds it
    m_currentFile = path;
    m_sourceFormat = source.format;
    re_codeChange();
    m_saveFileName = m_openFileName;
    od_bf_filesave->setDirectory(od_bf_fileopen->directory());
}

void Tfrm_BF_IDE::pm_bf_FilesaveClick()
{
    const QString path = m_chooseFile(*od_bf_filesave, m_saveFileName);
    if (path.isEmpty())
        return;
    saveCodeTo(path);
}

void Tfrm_BF_IDE::fileSaveShortcut()
{
    if (m_currentFile.isEmpty())
        pm_bf_FilesaveClick();
    else
        saveCodeTo(m_currentFile);
}

void Tfrm_BF_IDE::saveCodeTo(const QString &path)
{
    m_saveFileName = path;
    const SourceFormat written = writeSourceFile(path, *re_code->document(), m_sourceFormat);
    m_openFileName = m_saveFileName;
    m_currentFile = path;
    re_code->document()->setModified(false);
    // The file keeps its encoding unless the text no longer fits it; then it is said.
    if (written.isUtf8 != m_sourceFormat.isUtf8) {
        m_sourceFormat = written;
        m_reportError(messageText(messageTexts().savedAsUtf8, {QDir::toNativeSeparators(path)}));
    }
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
