#include "usersession.h"
#include "windowtesting.h"

#include <QRandomGenerator>
#include <QtTest>

// Random sequences of user actions on the real window, each from a fixed seed, with the
// invariants of UserSession checked after every action.
class TestUserSessions : public QObject
{
    Q_OBJECT
private slots:
    void randomSessionsKeepTheInvariants_data();
    void randomSessionsKeepTheInvariants();
};

void TestUserSessions::randomSessionsKeepTheInvariants_data()
{
    QTest::addColumn<quint32>("seed");
    for (quint32 seed = 1; seed <= 20; ++seed)
        QTest::addRow("seed %u", seed) << seed;
}

void TestUserSessions::randomSessionsKeepTheInvariants()
{
    QFETCH(quint32, seed);
    constexpr int Actions = 150;
    UserSession::forgetUserChoices();
    TestWindow w(QStringLiteral("twoexamples"));
    QRandomGenerator random(seed);
    QTemporaryDir folder;
    UserSession session(
        *w.window, [&random](int n) { return int(random.bounded(n)); }, folder.path());
    for (int i = 0; i < Actions; ++i)
        QVERIFY2(
            session.step(), qPrintable(QStringLiteral("step %1 %2").arg(i).arg(session.failure())));
}

QTEST_MAIN(TestUserSessions)
#include "tst_usersessions.moc"
