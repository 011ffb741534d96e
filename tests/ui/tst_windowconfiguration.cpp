#include "windowconfiguration.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

// The window's configuration on its own: what each reading step keeps, and what stands
// before it or when a file is missing.
class TestWindowConfiguration : public QObject
{
    Q_OBJECT
private slots:
    void keepsWhatEachStepRead();
};

namespace {

void write(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

} // namespace

void TestWindowConfiguration::keepsWhatEachStepRead()
{
    QTemporaryDir folder;
    QVERIFY(QDir(folder.path()).mkdir(QStringLiteral("lang")));
    const QString root = folder.path() + QLatin1Char('/');
    write(root + QStringLiteral("BF.ini"), "[GUI]\r\nLanguage=lang1\r\nlang1=EN\r\n");
    write(root + QStringLiteral("lang/CODES_EN.ini"),
        "[Global]\r\nProgsCount=2\r\n[Example1]\r\nTitle=One\r\nLine1=+\r\nLine2=.\r\n"
        "[Example2]\r\nTitle=Two\r\nLine1=-\r\n");
    write(root + QStringLiteral("lang/GUI_EN.ini"),
        "[Engine_ErrMsg]\r\nErrMsg3=no opening\r\n[Messages]\r\nunexpectedError=Oops\r\n");

    WindowConfiguration configuration(root);
    QVERIFY(configuration.missingReport().isEmpty());
    // Until the files are read, the built-in texts stand.
    QCOMPARE(configuration.messages().unexpectedError, MessageTexts().unexpectedError);
    QCOMPARE(configuration.errorText(3), QString::fromStdString(defaultErrorMessages()[3]));
    QVERIFY(!configuration.example(1));

    QCOMPARE(configuration.readSettings().languageCode, std::string("EN"));
    QCOMPARE(configuration.readExamples().size(), std::size_t(2));
    configuration.takeErrorTexts(readInterfaceTexts(configuration.path(), "EN"));
    configuration.readMessages();

    // Examples are numbered from 1, with "\n" line breaks; no other number is read.
    QCOMPARE(configuration.example(1), std::optional<QString>(QStringLiteral("+\n.\n")));
    QCOMPARE(configuration.example(2), std::optional<QString>(QStringLiteral("-\n")));
    for (const std::int32_t n : {0, 3, -1})
        QVERIFY(!configuration.example(n));
    // A text the file gives replaces the built-in one; the others stay.
    QCOMPARE(configuration.errorText(3), QStringLiteral("no opening"));
    QCOMPARE(configuration.errorText(4), QString::fromStdString(defaultErrorMessages()[4]));
    for (const int result : {0, 5, -1})
        QVERIFY(configuration.errorText(result).isEmpty());
    QCOMPARE(configuration.messages().unexpectedError, std::string("Oops"));
}

QTEST_GUILESS_MAIN(TestWindowConfiguration)
#include "tst_windowconfiguration.moc"
