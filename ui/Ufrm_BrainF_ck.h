#pragma once

#include "codeview.h"
#include "configloader.h"
#include "programrun.h"
#include "u_Brainfuck.h"
#include "windowstate.h"

#include <QPointer>
#include <QStringList>
#include <QTextEdit>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>

class BreakControl;
class Console;
class DebugSession;
class DialectSettings;
class EllipseShape;
class FindBar;
class LimitedTextEdit;
class QAction;
class QFileDialog;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QSplitter;
class QTextEdit;
class SourceDocument;
class WindowConfiguration;
class WindowDialogs;

// The text of s before the first occurrence of d, or all of s when d does not occur in it.
QString CopyBefore(const QString &s, const QString &d);

// The one window of the program: header, input bar, output and code panes, and the handlers of
// their commands. What it shows and does belongs to its owners: the configuration
// (WindowConfiguration), the compiled program and its run (ProgramRun), the console (Console),
// the program under the debugger (DebugSession), the code as a file (SourceDocument) and the
// modal exchanges with the user (WindowDialogs).
class Tfrm_BF_IDE : public QWidget
{
    Q_OBJECT
public:
    // Builds the window and runs FormCreate, reading the configuration from configDir (a folder
    // path ending with '/'; empty: the executable's folder, or else ../share/cerebrix beside
    // it, and a report naming both when neither holds one). A configuration error is reported
    // once the event loop runs; the window is complete up to the point of the error.
    explicit Tfrm_BF_IDE(const QString &configDir = QString(), QWidget *parent = nullptr);
    ~Tfrm_BF_IDE() override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    friend class WindowProbe; // what tests reach beyond the user's actions

    // The code pane's text with CR LF line breaks.
    QString codeText() const;

    // Event handlers, connected through the standard error report; those that read files or
    // numbers throw UserError. Compile and run do nothing while a run is in progress.
    void FormCreate();
    void kn_loadClick();
    void kn_runClick();
    void kn_Break1Click();
    void re_codeChange();
    void N1HelloWorld1Click(QAction *item);
    void LoadExample(int n);
    void pm_bf_FileopenClick();
    void pm_bf_FilesaveClick();
    // Ctrl+S: saves to the file last opened or saved, or asks for a name when there is none.
    void fileSaveShortcut();
    // Ctrl+Q: closes the window, asking first about unsaved changes.
    void quitClick();
    void pm_bf_FilterCodeClick();
    void pm_bf_DisasmClick();
    void pm3_clearClick();
    void ed_bf_InputKeyPress(int key);
    void N32Leerzeichen1Click(QAction *item);
    void Label3MouseEnter();
    void Label3MouseLeave();

    // Opens the debugger window. The run-control commands and keys (F5, F9, F10, F11 and the
    // others) do what the state table says for the window's state (windowstate.h).
    void pm_bf_DebugClick();
    // Shows the dialect dialog; the dialect chosen there takes effect at the next compile or
    // run (a debugged run keeps the one it started with).
    void pm_bf_DialectClick();
    // The "end of input" preset: a waiting "," gets what the dialect stores at the input's end.
    void nEndOfInputClick();
    void runDebugCommand(WindowCommand command);

    // The console hooks the engine calls. Output reaches the pane in batches, before every
    // event pass and at the end of a run, with the text per-character updates would give.
    // bf_InChar waits in the event loop and throws UserError for a bad "#" number.
    void bf_OutChar(std::uint8_t b);
    void bf_OutLine(const QString &s);
    std::uint8_t bf_InChar();
    void bf_Idle();

    // Runs handler through the standard error report: any exception ends the handler and is
    // reported; nothing unwinds into Qt. guarded wraps a handler as a slot taking any arguments.
    void runGuarded(const std::function<void()> &handler);
    template<typename F>
    auto guarded(F handler)
    {
        // The return type takes part in overload resolution, so Qt's count of the slot's
        // arguments finds how many of the signal's arguments the handler takes.
        return [this, handler](const auto &...args) -> decltype(handler(args...), void()) {
            runGuarded([&] { handler(args...); });
        };
    }

    void setUpWindow();
    void setUpHeader();
    void setUpTitleView();
    void setUpWorkArea();
    void setUpInputBar();
    void setUpPanes();
    void setUpInputPresets();
    void setUpPopupMenus();
    void setUpFileDialogs();
    void LoadConfiguration();
    // Appends text as the about text's last line, or puts it in place of the last line.
    void setAboutCutLine(const QString &text, bool append);
    QAction *addCommandItem(const char *name, const QString &caption, void (Tfrm_BF_IDE::*f)());

    // Replaces the code pane's text ("\n" line breaks); undoable (one step) unless it is the
    // start-up text.
    void setCodeText(const QString &text, bool undoable = true);
    // Writes the code to path in the format of the file last opened, saying so when the text
    // no longer fits its encoding.
    void saveCodeTo(const QString &path);
    // Widens the advice labels to their whole text, keeping their anchoring.
    void fitAdviceLabels();

    void setUpDebugger(const DebuggerTexts &texts);
    // The find bar and its keys, and the ways to the bracket a compile found unpaired (its
    // error line in the output pane, the debugger's notice).
    void setUpCodeNavigation();
    // Shows the bracket the last compile found unpaired, while the code is as compiled.
    void goToFaultBracket();
    // Compiles as kn_loadClick does: the bracket result (0: paired), -1 when nothing compiled.
    int compileCode();
    // What the window is doing, and the enabled states that follow from it.
    WindowState windowState() const;
    void updateCommands();
    // The debugger's state line, the code pane's marks and the commands' enabled states.
    void showDebugState();
    void showDebugMarkers();
    // The code pane's marks: the debugger's, the partner of the bracket at the caret, and the
    // bracket the last compile found unpaired.
    QList<QTextEdit::ExtraSelection> editorMarks() const;

    // The window's fixed widgets, named as their objects.
    QFrame *Panel3 = nullptr, *Panel1 = nullptr, *Panel4 = nullptr, *Panel5 = nullptr;
    EllipseShape *Shape3 = nullptr, *Shape1 = nullptr, *Shape2 = nullptr;
    QFrame *Shape4 = nullptr;
    QLabel *Label3 = nullptr, *Label4 = nullptr, *Label2 = nullptr, *Image1 = nullptr;
    QPushButton *kn_load = nullptr, *kn_run = nullptr;
    QTextEdit *re_title = nullptr;
    QSplitter *Splitter1 = nullptr, *Splitter3 = nullptr;
    CodePane *re_code = nullptr;
    LimitedTextEdit *re_outp = nullptr;
    QLineEdit *ed_bf_Input = nullptr;
    BreakControl *kn_Break = nullptr;
    QMenu *PopupMenu1 = nullptr, *pm_DefltProgs = nullptr, *Pm_outp = nullptr;
    QAction *n0null = nullptr, *N9Tabulator1 = nullptr, *N10Neuezeile1 = nullptr;
    QAction *n13CR = nullptr, *N32Leerzeichen1 = nullptr, *n255 = nullptr;
    QAction *nEndOfInput = nullptr;
    QFileDialog *od_bf_fileopen = nullptr, *od_bf_filesave = nullptr;

    // The engine, created by FormCreate with the console hooks above; never null afterwards.
    std::unique_ptr<tBF> bf_Engine;

    std::unique_ptr<WindowConfiguration> m_config;
    std::unique_ptr<WindowDialogs> m_dialogs;
    ProgramRun m_run;
    std::unique_ptr<Console> m_console;
    std::unique_ptr<DebugSession> m_session;
    std::unique_ptr<DialectSettings> m_dialect;
    std::unique_ptr<SourceDocument> m_document;
    FindBar *m_findBar = nullptr; // a child of the code pane

    QList<QAction *> m_debugCommands; // in the order of the debugger window's buttons
    // The run and disassemble items of the code pane's menu; empty until the start-up set-up
    // has created them (and again once their menu is gone), so every user tests them first.
    QPointer<QAction> PMC_RUN;
    QPointer<QAction> PMC_DisAsm;
    QPointer<QAction> m_compileItem;
};
