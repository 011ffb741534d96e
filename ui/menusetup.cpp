#include "Ufrm_BrainF_ck.h"

#include "codepage.h"
#include "configloader.h"
#include "customwidgets.h"
#include "dialectsettings.h"
#include "findbar.h"
#include "linebreaks.h"
#include "messages.h"
#include "rtfreader.h"
#include "windowconfiguration.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTextBlockFormat>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextEdit>

namespace {

// Turns "description|pattern|description|pattern" into the dialogs' filter list. A
// description that already ends with its pattern in parentheses is kept as it is; patterns
// separated by ';' are listed with blanks between them.
QStringList nameFilters(const QString &filter)
{
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString &description = parts.at(i);
        const QString patterns =
            parts.at(i + 1).split(QLatin1Char(';'), Qt::SkipEmptyParts).join(QLatin1Char(' '));
        if (description.endsWith(QLatin1Char('(') + patterns + QLatin1Char(')')))
            filters.append(description);
        else
            filters.append(description + QStringLiteral(" (") + patterns + QLatin1Char(')'));
    }
    return filters;
}

void setDialogSettings(
    QFileDialog *dialog, const QString &filter, const QString &extension, const QString &folder)
{
    // No filter lists every file; an empty list would leave the dialog's previous filter.
    const QStringList filters = nameFilters(filter);
    dialog->setNameFilters(filters.isEmpty() ? QStringList {QStringLiteral("*")} : filters);
    dialog->setDefaultSuffix(extension.startsWith(QLatin1Char('.')) ? extension.mid(1) : extension);
    dialog->setDirectory(folder.isEmpty() ? QDir::currentPath() : folder);
}

} // namespace

void Tfrm_BF_IDE::setUpInputPresets()
{
    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    PopupMenu1->setSeparatorsCollapsible(false);
    const std::pair<QAction **, const char *> presets[] = {
        {&n0null, "n0null"},
        {&N9Tabulator1, "N9Tabulator1"},
        {&N10Neuezeile1, "N10Neuezeile1"},
        {&n13CR, "n13CR"},
        {&N32Leerzeichen1, "N32Leerzeichen1"},
        {&n255, "n255"},
    };
    const QString captions[] = {
        QStringLiteral("#0 Null"),
        QStringLiteral("#9 Tabulator"),
        QStringLiteral("#10 Neue zeile"),
        QStringLiteral("#13 carr/ret"),
        QStringLiteral("#32  Leerzeichen"),
        QStringLiteral("#255 maxbyte"),
    };
    for (std::size_t i = 0; i < std::size(presets); ++i) {
        QAction *item = PopupMenu1->addAction(captions[i]);
        item->setObjectName(QLatin1String(presets[i].second));
        *presets[i].first = item;
        connect(
            item, &QAction::triggered, this, guarded([this, item] { N32Leerzeichen1Click(item); }));
    }
    nEndOfInput = PopupMenu1->addAction(fromCp1252(DialectTexts().inputPreset));
    nEndOfInput->setObjectName(QStringLiteral("nEndOfInput"));
    connect(nEndOfInput, &QAction::triggered, this, guarded([this] { nEndOfInputClick(); }));
    ed_bf_Input->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ed_bf_Input, &QWidget::customContextMenuRequested, this,
        guarded([this](const QPoint &at) { PopupMenu1->popup(ed_bf_Input->mapToGlobal(at)); }));
}

void Tfrm_BF_IDE::setUpPopupMenus()
{
    pm_DefltProgs = new QMenu(this);
    pm_DefltProgs->setObjectName(QStringLiteral("pm_DefltProgs"));
    pm_DefltProgs->setSeparatorsCollapsible(false);
    re_code->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(re_code, &QWidget::customContextMenuRequested, this, guarded([this](const QPoint &at) {
        pm_DefltProgs->popup(re_code->viewport()->mapToGlobal(at));
    }));

    Pm_outp = new QMenu(this);
    Pm_outp->setObjectName(QStringLiteral("Pm_outp"));
    Pm_outp->setSeparatorsCollapsible(false);
    re_outp->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(re_outp, &QWidget::customContextMenuRequested, this, guarded([this](const QPoint &at) {
        Pm_outp->popup(re_outp->viewport()->mapToGlobal(at));
    }));
}

void Tfrm_BF_IDE::setUpFileDialogs()
{
    od_bf_fileopen = new QFileDialog(this);
    od_bf_fileopen->setObjectName(QStringLiteral("od_bf_fileopen"));
    od_bf_fileopen->setAcceptMode(QFileDialog::AcceptOpen);
    od_bf_fileopen->setFileMode(QFileDialog::ExistingFile);
    od_bf_filesave = new QFileDialog(this);
    od_bf_filesave->setObjectName(QStringLiteral("od_bf_filesave"));
    od_bf_filesave->setAcceptMode(QFileDialog::AcceptSave);
    od_bf_filesave->setOption(QFileDialog::DontConfirmOverwrite);
    for (QFileDialog *dialog : {od_bf_fileopen, od_bf_filesave}) {
        setDialogSettings(dialog,
            QStringLiteral("BrainF*ck-Code (*.bf)|*.bf|Alle Dateien(*.*)|*.*"),
            QStringLiteral("bf"), QStringLiteral("."));
    }
}

QAction *Tfrm_BF_IDE::addCommandItem(
    const char *name, const QString &caption, void (Tfrm_BF_IDE::*handler)())
{
    QAction *item = pm_DefltProgs->addAction(caption);
    item->setObjectName(QLatin1String(name));
    connect(item, &QAction::triggered, this, guarded([this, handler] { (this->*handler)(); }));
    return item;
}

void Tfrm_BF_IDE::setAboutCutLine(const QString &text, bool append)
{
    QTextCursor cursor(re_title->document());
    cursor.movePosition(QTextCursor::End);
    if (append) {
        cursor.insertBlock(QTextBlockFormat(), QTextCharFormat());
    } else {
        cursor.movePosition(QTextCursor::StartOfBlock, QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
    }
    cursor.insertText(text);
}

void Tfrm_BF_IDE::LoadConfiguration()
{
    const std::string dir = m_config->path();
    const MainSettings &settings = m_config->readSettings();
    re_code->setLineNumbersShown(settings.lineNumbers);
    re_title->clear();
    re_title->setAcceptRichText(true);
    // A text too long to show whole ends in a line saying so, in the interface's language
    // once its texts are read.
    const bool aboutCut = AssignViaStream(re_title->document(), settings.aboutLines);
    if (aboutCut)
        setAboutCutLine(fromCp1252(InterfaceTexts().aboutCut), true);

    const std::vector<Example> examples = m_config->readExamples();
    for (std::size_t i = 0; i < examples.size(); ++i) {
        const std::size_t n = i + 1;
        QAction *item = pm_DefltProgs->addAction(
            QString::number(n) + QLatin1Char(' ') + fromCp1252(examples[i].title));
        item->setObjectName(QStringLiteral("PM_DfltProgs%1").arg(n));
        connect(
            item, &QAction::triggered, this, guarded([this, item] { N1HelloWorld1Click(item); }));
    }

    const InterfaceTexts texts = readInterfaceTexts(dir, settings.languageCode);
    if (!examples.empty()) // a separator with nothing above it would sit on the menu's border
        pm_DefltProgs->addSeparator();
    addCommandItem(
        "PMC_Fileload", fromCp1252(texts.codeFileOpen), &Tfrm_BF_IDE::pm_bf_FileopenClick);
    addCommandItem(
        "PMC_Filesave", fromCp1252(texts.codeFileSave), &Tfrm_BF_IDE::pm_bf_FilesaveClick);
    pm_DefltProgs->addSeparator();
    addCommandItem(
        "PMC_FilterCode", fromCp1252(texts.codeFilterCode), &Tfrm_BF_IDE::pm_bf_FilterCodeClick);
    pm_DefltProgs->addSeparator();
    m_compileItem =
        addCommandItem("PMC_Compile", fromCp1252(texts.buttonCompile), &Tfrm_BF_IDE::kn_loadClick);
    kn_load->setText(fromCp1252(texts.buttonCompile));
    QAction *run =
        addCommandItem("PMC_RUN", fromCp1252(texts.buttonRun), &Tfrm_BF_IDE::kn_runClick);
    run->setEnabled(false);
    kn_run->setText(fromCp1252(texts.buttonRun));
    PMC_RUN = run;
    QAction *disassemble = addCommandItem(
        "PMC_DisAsm", fromCp1252(texts.codeDisassemble), &Tfrm_BF_IDE::pm_bf_DisasmClick);
    disassemble->setEnabled(false);
    PMC_DisAsm = disassemble;
    const DebuggerTexts debuggerTexts = readDebuggerTexts(dir, settings.languageCode);
    addCommandItem(
        "PMC_Debugger", fromCp1252(debuggerTexts.menuItem), &Tfrm_BF_IDE::pm_bf_DebugClick);
    setUpDebugger(debuggerTexts);
    const DialectTexts dialectTexts = readDialectTexts(dir, settings.languageCode);
    m_dialect->configure(settings.dialect, dialectTexts);
    addCommandItem(
        "PMC_Dialect", fromCp1252(dialectTexts.menuItem), &Tfrm_BF_IDE::pm_bf_DialectClick);
    nEndOfInput->setText(fromCp1252(dialectTexts.inputPreset));
    m_findBar->setTexts(readEditorTexts(dir, settings.languageCode));
    QAction *clear = Pm_outp->addAction(fromCp1252(texts.outputClear));
    connect(clear, &QAction::triggered, this, guarded([this] { pm3_clearClick(); }));

    QAction *const presets[] = {N32Leerzeichen1, N10Neuezeile1, n13CR, N9Tabulator1, n0null, n255};
    for (std::size_t i = 0; i < std::size(presets); ++i)
        presets[i]->setText(fromCp1252(texts.inputPresets[i]));
    kn_load->setToolTip(fromCp1252(texts.hintCompile));
    kn_run->setToolTip(fromCp1252(texts.hintRun));
    ed_bf_Input->setToolTip(fromCp1252(texts.hintInput));
    Label4->setText(fromCp1252(texts.adviceButtons));
    re_code->setToolTip(fromCp1252(texts.hintCode));
    Label2->setText(fromCp1252(texts.adviceInput));
    fitAdviceLabels();
    for (QFileDialog *dialog : {od_bf_fileopen, od_bf_filesave}) {
        setDialogSettings(dialog, fromCp1252(texts.fileFilter), fromCp1252(texts.defaultExtension),
            fromCp1252(texts.initialDirectory));
    }
    m_config->takeErrorTexts(texts);
    m_config->readMessages();
    if (aboutCut)
        setAboutCutLine(fromCp1252(texts.aboutCut), false);

    applyListingWords(readListingWords(dir), bf_Engine->m_mnemonics);
}
