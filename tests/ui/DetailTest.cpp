// The recovery detail dialog: failures on top in red, counters in the label.
#include "ui/CDetail.h"

#include <QTableWidget>
#include <QtTest>
#include <cerrno>

class DetailTest : public QObject {
    Q_OBJECT
private slots:
    void failuresOnTopInRed();
    void reasonOfASystemError();
};

void DetailTest::failuresOnTopInRed() {
    CDetail detail;
    detail.AddTableItem("/d/photo/ok.jpg", 0);
    detail.AddTableItem("/d/photo/bad1.jpg", 1);
    detail.AddTableItem("/d/photo/bad2.jpg", 30);
    QTableWidget* table = detail.Table();
    QCOMPARE(table->rowCount(), 3);
    QCOMPARE(table->item(0, 0)->text(), QString("/d/photo/bad2.jpg"));
    QCOMPARE(table->item(1, 0)->text(), QString("/d/photo/bad1.jpg"));
    QCOMPARE(table->item(2, 0)->text(), QString("/d/photo/ok.jpg"));
    QCOMPARE(table->item(1, 1)->text(), QString("Failed"));
    QCOMPARE(table->item(2, 1)->text(), QString("Success"));
    for (int row = 0; row < 2; ++row) QCOMPARE(table->item(row, 1)->foreground().color(), QColor(255, 0, 0));
    QVERIFY(table->item(2, 1)->foreground().color() != QColor(255, 0, 0));
    QCOMPARE(table->rowHeight(0), 22);
    QCOMPARE(detail.LabelText(), QString("  Recovery Detail\n  Success:1 Failed:2\n"));
    QCOMPARE(detail.SuccessCount(), 1);
    QCOMPARE(detail.FailedCount(), 2);
}

void DetailTest::reasonOfASystemError() {
    CDetail detail;
    detail.AddTableItem("/ro/photo/a.jpg", EACCES);
    QVERIFY(detail.Table()->item(0, 1)->text().startsWith("Failed ("));
    QVERIFY(detail.Table()->item(0, 1)->text().contains(QString::fromLocal8Bit(std::strerror(EACCES))));
}

QTEST_MAIN(DetailTest)
#include "DetailTest.moc"
