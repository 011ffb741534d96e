#include "titlelayout.h"

#include <QTest>

class TestTitleLayout : public QObject
{
    Q_OBJECT

private slots:
    void placesGroup_data();
    void placesGroup();
};

void TestTitleLayout::placesGroup_data()
{
    QTest::addColumn<int>("clientWidth");
    QTest::addColumn<int>("clientHeight");
    QTest::addColumn<int>("aboutLeft");
    QTest::addColumn<int>("barLeft");
    QTest::addColumn<int>("barHeight");
    QTest::addColumn<int>("pictureLeft");
    // The group is 540 wide at the default sizes; the bar starts below the 57-pixel header.
    QTest::newRow("default width") << 785 << 489 << 122 << 466 << 432 << 477;
    QTest::newRow("odd surplus rounds down") << 786 << 489 << 123 << 467 << 432 << 478;
    QTest::newRow("taller window, longer bar") << 785 << 900 << 122 << 466 << 843 << 477;
    QTest::newRow("narrower than the group") << 500 << 489 << -20 << 324 << 432 << 335;
    QTest::newRow("odd shortfall of one rounds to zero") << 539 << 489 << 0 << 344 << 432 << 355;
    QTest::newRow("odd shortfall of three rounds to -1") << 537 << 489 << -1 << 343 << 432 << 354;
    QTest::newRow("window no taller than the header") << 785 << 40 << 122 << 466 << 0 << 477;
}

void TestTitleLayout::placesGroup()
{
    QFETCH(int, clientWidth);
    QFETCH(int, clientHeight);
    TitleSizes sizes;
    sizes.clientWidth = clientWidth;
    sizes.clientHeight = clientHeight;
    sizes.headerHeight = 57;
    sizes.pictureWidth = 185;
    sizes.pictureHeight = 185;
    sizes.aboutWidth = 337;
    sizes.aboutTop = 72;
    sizes.aboutHeight = 289;
    sizes.barWidth = 4;
    const TitlePlacement place = placeTitleView(sizes);
    QTEST(place.aboutLeft, "aboutLeft");
    QTEST(place.barLeft, "barLeft");
    QCOMPARE(place.barTop, 57);
    QTEST(place.barHeight, "barHeight");
    QTEST(place.pictureLeft, "pictureLeft");
    QCOMPARE(place.pictureTop, 176); // bottoms of picture and about pane line up
}

QTEST_MAIN(TestTitleLayout)
#include "tst_titlelayout.moc"
