#include "Ufrm_BrainF_ck.h"

#include "codeview.h"
#include "console.h"
#include "customwidgets.h"
#include "debugsession.h"
#include "dialectsettings.h"
#include "jpegpicture.h"
#include "messages.h"
#include "sourcedocument.h"
#include "usererror.h"
#include "windowconfiguration.h"
#include "windowdialogs.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QFontMetrics>
#include <QFrame>
#include <QIcon>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QTextEdit>
#include <QTimer>
#include <QVBoxLayout>

#include <exception>

namespace {

// The panes hold at most this many characters. Typing, pasting, a file or an example that
// would pass it is refused with a message and the pane keeps its text; program output that
// would pass it stops the run with a line saying so.
constexpr qsizetype paneCharacterLimit = 32'000'000;
// Lines of the code pane longer than this are held as chains of blocks of at most this many
// characters, so that no edit lays out a whole long line.
constexpr int codeChunkLimit = 1'000;
// About 120 bytes a line in the pane: five million keep it well under 1 GB.
constexpr qsizetype outputLineLimit = 5'000'000;

QFont fontOf(const QString &family, QFont::StyleHint hint, int pixelSize, bool bold)
{
    QFont font(family);
    font.setStyleHint(hint);
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

QFont fixedFont(int pixelSize, bool bold = false)
{
    return fontOf(QStringLiteral("DejaVu Sans Mono"), QFont::Monospace, pixelSize, bold);
}

QFont sansFont(int pixelSize, bool bold = false)
{
    return fontOf(QStringLiteral("DejaVu Sans"), QFont::SansSerif, pixelSize, bold);
}

void setBackground(QWidget *widget, const QColor &colour)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, colour);
    palette.setColor(QPalette::Base, colour);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

void setTextColour(QWidget *widget, const QColor &colour)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, colour);
    widget->setPalette(palette);
}

template<typename T>
T *named(T *object, const char *name)
{
    object->setObjectName(QLatin1String(name));
    return object;
}

// The text of an exception other than UserError: a fault of the program, reported rather than
// let through to Qt, which cannot unwind.
QString unexpectedErrorText(const std::exception_ptr &error, const MessageTexts &messages)
{
    try {
        std::rethrow_exception(error);
    } catch (const std::exception &exception) {
        return QString::fromUtf8(exception.what());
    } catch (...) {
        return messageText(messages.unexpectedError, {});
    }
}

} // namespace

Tfrm_BF_IDE::Tfrm_BF_IDE(const QString &configDir, QWidget *parent)
    : QWidget(parent)
    , m_config(std::make_unique<WindowConfiguration>(configDir))
    , m_dialogs(std::make_unique<WindowDialogs>(*this))
{
    setUpWindow();
    setUpHeader();
    setUpTitleView();
    setUpWorkArea();
    setUpInputBar();
    setUpPanes();
    setUpInputPresets();
    setUpPopupMenus();
    setUpFileDialogs();
    m_dialogs->setBuilding(true);
    runGuarded([this] { FormCreate(); });
    m_dialogs->setBuilding(false);
    if (!m_config->missingReport().isEmpty())
        m_dialogs->reportLater(m_config->missingReport());
}

Tfrm_BF_IDE::~Tfrm_BF_IDE() = default;

void Tfrm_BF_IDE::runGuarded(const std::function<void()> &handler)
{
    try {
        handler();
    } catch (const UserError &error) {
        m_dialogs->report(QString::fromUtf8(error.what()));
    } catch (...) {
        m_dialogs->report(unexpectedErrorText(std::current_exception(), m_config->messages()));
    }
}

void Tfrm_BF_IDE::setUpWindow()
{
    setObjectName(QStringLiteral("frm_BF_IDE"));
    setWindowTitle(QStringLiteral("Cerebrix!"));
    resize(785, 672);
    setFont(sansFont(11));
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, palette.color(QPalette::Button));
    setPalette(palette);
    setAutoFillBackground(true);
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    // The emblem, as the desktop entry shows it.
    const QImage emblem = titlePicture();
    if (!emblem.isNull())
        setWindowIcon(QIcon(QPixmap::fromImage(emblem)));
    // The desktop's file keys; the menu items keep their captions and dialogs. Ctrl+Q closes
    // through the same question as the window's close button.
    const std::pair<QKeySequence, void (Tfrm_BF_IDE::*)()> fileKeys[] = {
        {QKeySequence(Qt::CTRL | Qt::Key_O), &Tfrm_BF_IDE::pm_bf_FileopenClick},
        {QKeySequence(Qt::CTRL | Qt::Key_S), &Tfrm_BF_IDE::fileSaveShortcut},
        {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S), &Tfrm_BF_IDE::pm_bf_FilesaveClick},
        {QKeySequence(Qt::CTRL | Qt::Key_Q), &Tfrm_BF_IDE::quitClick},
    };
    for (const auto &[keys, handler] : fileKeys) {
        auto *action = new QAction(this);
        action->setShortcut(keys);
        action->setShortcutContext(Qt::WindowShortcut);
        const auto run = handler;
        connect(action, &QAction::triggered, this, guarded([this, run] { (this->*run)(); }));
        addAction(action);
    }
}

void Tfrm_BF_IDE::fitAdviceLabels()
{
    // Never below their default sizes; Label4 keeps its right edge, as its anchor does.
    const auto fit = [](QLabel *label, QSize defaultSize, bool keepRightEdge) {
        const QSize text = label->sizeHint();
        const int right = label->geometry().right();
        label->resize(std::max(defaultSize.width(), text.width()),
            std::max(defaultSize.height(), text.height()));
        if (keepRightEdge)
            label->move(right + 1 - label->width(), label->y());
    };
    fit(Label4, QSize(434, 13), true);
    fit(Label2, QSize(195, 22), false);
}

void Tfrm_BF_IDE::resizeEvent(QResizeEvent *event)
{
    runGuarded([this] {
        // The header is docked to the top; the work area fills what it leaves.
        Panel3->setGeometry(0, 0, width(), Panel3->height());
        Panel1->setGeometry(0, Panel3->height(), width(), height() - Panel3->height());
    });
    QWidget::resizeEvent(event);
}

void Tfrm_BF_IDE::setUpHeader()
{
    Panel3 = named(new QFrame(this), "Panel3");
    Panel3->setFrameStyle(QFrame::Box | QFrame::Plain);
    Panel3->setGeometry(0, 0, 785, 57);
    setBackground(Panel3, QColor(0xDD, 0xFD, 0xFF));

    const QColor cloud(0xFF, 0xFC, 0xE6), purple(0x80, 0x00, 0x80);
    Shape3 = named(new EllipseShape(cloud, purple, Panel3), "Shape3");
    Shape3->setGeometry(200, 32, 97, 25);
    Shape1 = named(new EllipseShape(cloud, purple, Panel3), "Shape1");
    Shape1->setGeometry(144, 16, 121, 39);
    Shape2 = named(new EllipseShape(cloud, purple, Panel3), "Shape2");
    Shape2->setGeometry(5, 5, 223, 43);

    Label3 = named(new QLabel(QStringLiteral("Cerebrix Brain-F*ck IDE"), Panel3), "Label3");
    // The label keeps its default size, since its area is where hovering shows the title view
    // and leaving it onto the ellipses ends it; the stand-in font shrinks until the caption fits.
    int pixelSize = 16;
    while (pixelSize > 8 &&
        QFontMetrics(fixedFont(pixelSize, true)).horizontalAdvance(Label3->text()) > 180)
        --pixelSize;
    Label3->setFont(fixedFont(pixelSize, true));
    Label3->setFixedSize(180, 18);
    Label3->move(21, 18);
    setTextColour(Label3, QColor(0x80, 0x00, 0x00));
    Label3->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    Label3->raise(); // above the ellipses
    Label3->installEventFilter(this);
    Label3->setToolTip(QStringLiteral("Cerebrix " CEREBRIX_VERSION)); // shown over the title view

    Label4 = named(
        new QLabel(QStringLiteral("Enter Code, press BRAIN and then F*CK!"), Panel3), "Label4");
    Label4->setGeometry(344, 8, 434, 13);
    Label4->setFont(sansFont(11));
    Label4->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    setTextColour(Label4, QColor(0x00, 0x40, 0x80));

    kn_load = named(new QPushButton(QStringLiteral("&BRAIN"), Panel3), "kn_load");
    kn_load->setGeometry(625, 26, 75, 25);
    kn_load->setFont(sansFont(11, true));
    connect(kn_load, &QPushButton::clicked, this, guarded([this] { kn_loadClick(); }));

    kn_run = named(new QPushButton(QStringLiteral("&Jolt!"), Panel3), "kn_run");
    kn_run->setGeometry(704, 25, 75, 25);
    kn_run->setFont(sansFont(11, true));
    kn_run->setEnabled(false);
    connect(kn_run, &QPushButton::clicked, this, guarded([this] { kn_runClick(); }));

    auto *anchors = new RightAnchors(Panel3, 785);
    anchors->add(Label4);
    anchors->add(kn_load);
    anchors->add(kn_run);
}

void Tfrm_BF_IDE::setUpWorkArea()
{
    Panel1 = named(new QFrame(this), "Panel1");
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Panel1->setGeometry(0, 57, 785, 672 - 57);
    auto *layout = new QHBoxLayout(Panel1);
    layout->setContentsMargins(0, 0, 0, 0); // the bevel is the one pixel around the panes

    Splitter1 = named(new QSplitter(Qt::Horizontal, Panel1), "Splitter1");
    Splitter1->setHandleWidth(4);
    Splitter1->setChildrenCollapsible(false);
    layout->addWidget(Splitter1);

    Panel4 = named(new QFrame(Splitter1), "Panel4");
    auto *columnLayout = new QVBoxLayout(Panel4);
    columnLayout->setContentsMargins(0, 0, 0, 0);
    Splitter3 = named(new QSplitter(Qt::Vertical, Panel4), "Splitter3");
    Splitter3->setHandleWidth(6);
    Splitter3->setChildrenCollapsible(false);
    columnLayout->addWidget(Splitter3);
}

void Tfrm_BF_IDE::setUpInputBar()
{
    Panel5 = named(new QFrame(Splitter3), "Panel5");
    Panel5->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Panel5->setMinimumHeight(32);

    Label2 =
        named(new QLabel(QStringLiteral("Input (Char or #ascii-number) return"), Panel5), "Label2");
    Label2->setGeometry(62, 6, 195, 22);
    fitAdviceLabels();

    ed_bf_Input = named(new QLineEdit(QStringLiteral("#10"), Panel5), "ed_bf_Input");
    ed_bf_Input->setGeometry(8, 4, 49, 21);
    ed_bf_Input->setToolTip(
        QStringLiteral("Zeichen oder #nnn, z.B. A oder c oder #254 und Return-taste"));
    ed_bf_Input->installEventFilter(this);

    kn_Break = named(new BreakControl(QStringLiteral("\u2715"), Panel5), "kn_Break");
    kn_Break->setGeometry(264, 3, 33, 25);
    kn_Break->setAlignment(Qt::AlignCenter);
    kn_Break->setFont(sansFont(16, true));
    kn_Break->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setBackground(kn_Break, QColor(0xFF, 0xFB, 0xDF));
    setTextColour(kn_Break, QColor(0xFF, 0x00, 0x00));
    kn_Break->setToolTip(QStringLiteral("Abort current program execution"));
    kn_Break->hide();
    connect(kn_Break, &BreakControl::clicked, this, guarded([this] { kn_Break1Click(); }));

    (new RightAnchors(Panel5, 305))->add(kn_Break);
}

void Tfrm_BF_IDE::setUpPanes()
{
    re_outp = named(new LimitedTextEdit(Splitter3), "re_outp");
    re_outp->setFont(fixedFont(13));
    setBackground(re_outp, QColor(0xFF, 0xFB, 0xDF));
    re_outp->setLineWrapMode(QPlainTextEdit::NoWrap);
    re_outp->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    re_outp->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    re_outp->setUndoRedoEnabled(false); // program output would otherwise pile up undo steps
    Splitter3->setSizes({32, 486});
    Splitter3->setStretchFactor(0, 0);
    Splitter3->setStretchFactor(1, 1);

    re_code = named(new CodePane(Splitter1), "re_code");
    QFont codeFont = fixedFont(13);
    codeFont.setStyleStrategy(QFont::PreferNoShaping); // a long line lays out in half the time
    re_code->setFont(codeFont);
    re_code->setLineWrapMode(QPlainTextEdit::NoWrap);
    re_code->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    re_code->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    re_code->setFrameStyle(QFrame::NoFrame);
    re_code->setToolTip(QStringLiteral("Right-Click for examples of new file"));
    m_document = std::make_unique<SourceDocument>(*re_code, m_config->messages());
    // A text the program puts in as a whole is no edit; its callers say what changed.
    connect(re_code, &QPlainTextEdit::textChanged, this, guarded([this] {
        if (!m_document->isReplacing())
            re_codeChange();
    }));
    re_code->installEventFilter(this); // accelerators of disabled controls
    re_code->setLineNumbersShown(true);
    // Ctrl+Y redoes as on most desktops, beside the toolkit's own Ctrl+Shift+Z.
    auto *redo = new QAction(re_code);
    redo->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Y));
    redo->setShortcutContext(Qt::WidgetShortcut);
    connect(redo, &QAction::triggered, re_code, &QPlainTextEdit::redo);
    re_code->addAction(redo);
    connect(re_code, &QPlainTextEdit::cursorPositionChanged, this,
        guarded([this] { showDebugMarkers(); })); // the bracket partner follows the caret
    Splitter1->setSizes({305, 474});
    Splitter1->setStretchFactor(0, 0);
    Splitter1->setStretchFactor(1, 1);

    m_console = std::make_unique<Console>(re_outp, ed_bf_Input, m_config->messages());
    m_console->outputFull = [this] {
        if (bf_Engine)
            bf_Engine->m_breakFlag = true;
    };
    // The input box must be seen to be used, so a request ends the title view.
    m_console->inputRequested = [this] {
        if (Panel1->isHidden())
            Label3MouseLeave();
    };
    connect(
        ed_bf_Input, &QLineEdit::textChanged, this, guarded([this] { m_console->entryChanged(); }));
    m_console->setWaiting(false);

    for (LimitedTextEdit *pane : {static_cast<LimitedTextEdit *>(re_code), re_outp}) {
        pane->setMessages(&m_config->messages());
        connect(
            pane, &LimitedTextEdit::limitRefused, this, guarded([pane] { pane->refuseText(); }));
    }
}

void Tfrm_BF_IDE::FormCreate()
{
    bf_Engine = std::make_unique<tBF>();
    bf_Engine->m_outputHook = {
        [](void *w, std::uint8_t b) { static_cast<Tfrm_BF_IDE *>(w)->bf_OutChar(b); }, this};
    bf_Engine->m_inputHook = {
        [](void *w) { return static_cast<Tfrm_BF_IDE *>(w)->bf_InChar(); }, this};
    bf_Engine->m_idleHook = {[](void *w) { static_cast<Tfrm_BF_IDE *>(w)->bf_Idle(); }, this};
    // The idle hook only keeps the window live, so the engine may call it coarsely: a
    // million units take a few milliseconds at most, and a budget that large spares the
    // machine code's scans their per-scan bound.
    bf_Engine->m_idleInterval = 1 << 20;
    DebugSession::Host host;
    host.compile = [this] { return compileCode(); };
    host.isBusy = [this] { return m_run.isRunning(); };
    host.setLegRunning = [this](bool running) {
        m_run.setRunning(running);
        if (running) {
            bf_Engine->m_breakFlag = false;
        } else {
            if (ed_bf_Input->isEnabled())
                m_console->setWaiting(false);
            if (m_run.isCloseRequested())
                QTimer::singleShot(0, this, &QWidget::close);
        }
        updateCommands();
    };
    host.stateChanged = [this] { showDebugState(); };
    host.errorText = [this](int result) { return m_config->errorText(result); };
    host.runGuarded = [this](const std::function<void()> &handler) { runGuarded(handler); };
    m_session = std::make_unique<DebugSession>(*bf_Engine, *re_code, *m_console, *this, host);
    m_dialect = std::make_unique<DialectSettings>();
    setUpCodeNavigation();
    re_code->setCharacterLimit(paneCharacterLimit);
    re_code->setSoftBreakLimit(codeChunkLimit);
    setCodeText(QStringLiteral("(code)"), false);
    m_document->setUnmodified();
    m_console->restart(QStringLiteral("(Outp)\r\n "));
    re_outp->setCharacterLimit(paneCharacterLimit);
    re_outp->setLineLimit(outputLineLimit);
    setUpDebugger(DebuggerTexts()); // its keys work even when the configuration fails
    LoadConfiguration();
}

void Tfrm_BF_IDE::quitClick()
{
    close();
}

void Tfrm_BF_IDE::closeEvent(QCloseEvent *event)
{
    // Changes never saved are not dropped without asking, as desktop editors do.
    const bool mayClose = m_document->mayClose(
        m_dialogs->askToSave(), [this] { runGuarded([this] { fileSaveShortcut(); }); });
    if (!mayClose) {
        event->ignore();
        return;
    }
    if (!m_run.isRunning()) {
        event->accept();
        return;
    }
    // Closing ends the run as the break control and Escape would; the window closes once the
    // run has unwound, so the engine is never torn down under a running program.
    event->ignore();
    runGuarded([this] {
        m_run.requestClose();
        if (m_session->isLegRunning()) {
            m_session->act(WindowCommand::Stop);
            return;
        }
        bf_Engine->m_breakFlag = true;
        m_console->finishWait(false);
    });
}

bool Tfrm_BF_IDE::eventFilter(QObject *watched, QEvent *event)
{
    if ((watched == re_code || watched == ed_bf_Input) && event->type() == QEvent::KeyPress) {
        // Alt with a letter is an accelerator. An enabled one has been taken as a shortcut
        // before the key reaches a text box; a disabled one must not type its letter either.
        // (AltGr, which types brackets on many keyboards, is not Alt.)
        const auto *press = static_cast<QKeyEvent *>(event);
        const Qt::KeyboardModifiers modifiers = press->modifiers();
        if ((modifiers & Qt::AltModifier) && !(modifiers & Qt::ControlModifier) &&
            !press->text().isEmpty() && press->text().at(0).isLetterOrNumber())
            return true;
    }
    if (watched == Label3 && event->type() == QEvent::Enter)
        runGuarded([this] { Label3MouseEnter(); });
    else if (watched == Label3 && event->type() == QEvent::Leave)
        runGuarded([this] { Label3MouseLeave(); });
    else if (watched == ed_bf_Input && event->type() == QEvent::KeyPress) {
        const auto *press = static_cast<QKeyEvent *>(event);
        const int key = press->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter)
            runGuarded([this] { ed_bf_InputKeyPress(13); });
        else if (key == Qt::Key_Escape)
            runGuarded([this] { ed_bf_InputKeyPress(27); });
        else if (!press->text().isEmpty())
            runGuarded([this, press] { ed_bf_InputKeyPress(press->text().at(0).unicode()); });
    }
    return QWidget::eventFilter(watched, event);
}
