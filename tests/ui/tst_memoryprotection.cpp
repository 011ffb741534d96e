#include "processsetup.h"
#include "windowtesting.h"

#include <QApplication>
#include <QFile>
#include <QTest>

// No memory of the process is writable and executable at once: not Qt's, whose regular
// expressions (file dialog filters) would compile to such memory, nor a run's machine code.

class TestMemoryProtection : public QObject
{
    Q_OBJECT
private slots:
    void noMappingIsWritableAndExecutable();
};

namespace {

// The lines of /proc/self/maps whose mapping may be written and executed.
QStringList writableAndExecutable()
{
    QFile maps(QStringLiteral("/proc/self/maps"));
    if (!maps.open(QIODevice::ReadOnly))
        return {QStringLiteral("no /proc/self/maps")};
    QStringList found;
    for (const QByteArray &line : maps.readAll().split('\n')) {
        const QByteArray permissions = line.split(' ').value(1);
        if (permissions.contains('w') && permissions.contains('x'))
            found.append(QString::fromLatin1(line));
    }
    return found;
}

} // namespace

void TestMemoryProtection::noMappingIsWritableAndExecutable()
{
    TestWindow w;
    w.compile(QStringLiteral("++++++++[>++++++++<-]>+.[-]++[>+++[>++<-]<-]"));
    w.click("kn_run");
    QTRY_VERIFY(!w.isRunning());
    QVERIFY(w.outputText().contains(QLatin1Char('A')));
    QCOMPARE(writableAndExecutable(), QStringList());
}

// The process starts as the program's own does, with its settings made before the
// application object exists.
int main(int argc, char *argv[])
{
    prepareProcess();
    QApplication application(argc, argv);
    TestMemoryProtection test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_memoryprotection.moc"
