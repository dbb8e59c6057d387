// Preview of found files: the text form of the first bytes and pictures fitted
// into the preview area.
#include "ResultFakeEngine.h"
#include "fixtures/TempDir.h"
#include "ui/CPreviewProcess.h"
#include "ui/CResultPage.h"
#include "ui/PreviewFormat.h"

#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QTableWidget>
#include <QTreeWidget>
#include <QtTest>

class ResultPreviewTest : public QObject {
    Q_OBJECT
private slots:
    void textOfShortBuffer();
    void linesOf256Bytes();
    void emptyBufferIsOneLineEnd();
    void bytesOutsideTheCodePageAreKept();
    void chineseTextDecodesAsGb18030();
    void pictureSizes();
    void firstRowIsPreviewedAsText();
    void widePictureIsScaledIntoArea();
    void narrowPictureKeepsItsSize();
    void missingPictureLeavesAreaAlone();
};

void ResultPreviewTest::textOfShortBuffer() {
    const unsigned char data[] = {0x41, 0x00, 0x42, 0x43, 0x0A};
    QCOMPARE(WinHexBufData(nullptr, data, 5), QString("A.BC\n\r\n"));
}

void ResultPreviewTest::linesOf256Bytes() {
    std::vector<unsigned char> data(512, 'x');
    data[256] = 0;
    const QString text = WinHexBufData(nullptr, data.data(), 512);
    const QStringList lines = text.split("\r\n");
    QCOMPARE(lines.size(), 3); // two lines and what follows the last line end
    QCOMPARE(lines[0], QString(256, 'x'));
    QCOMPARE(lines[1], "." + QString(255, 'x'));
    QVERIFY(lines[2].isEmpty());
    // A length that is not a multiple of 256 ends with exactly one line end too.
    QVERIFY(WinHexBufData(nullptr, data.data(), 300).endsWith(QString(43, 'x') + "\r\n"));
}

void ResultPreviewTest::emptyBufferIsOneLineEnd() {
    const unsigned char data[] = {0x41};
    QCOMPARE(WinHexBufData(nullptr, data, 0), QString("\r\n"));
    QCOMPARE(WinHexBufData(nullptr, data, -4), QString("\r\n"));
}

void ResultPreviewTest::bytesOutsideTheCodePageAreKept() {
    // 0xFF starts no character: it shows as a replacement, and what follows survives.
    const unsigned char data[] = {'a', 0xFF, 'b', 'c', 0x81};
    const QString text = WinHexBufData(nullptr, data, 5);
    QVERIFY(text.startsWith("a"));
    QVERIFY(text.contains('b'));
    QVERIFY(text.contains('c'));
    QCOMPARE(text.count(QChar(0xFFFD)), 2);
}

void ResultPreviewTest::chineseTextDecodesAsGb18030() {
    const unsigned char data[] = {0xD6, 0xD0, 0xCE, 0xC4}; // "中文"
    QCOMPARE(WinHexBufData(nullptr, data, 4), QString::fromUtf8("\xE4\xB8\xAD\xE6\x96\x87\r\n"));
}

void ResultPreviewTest::pictureSizes() {
    QCOMPARE(PreviewPictureSize(QSize(1400, 300)), QSize(700, 150));
    QCOMPARE(PreviewPictureSize(QSize(700, 900)), QSize(700, 900));
    QCOMPARE(PreviewPictureSize(QSize(701, 100)), QSize(700, 99));
    QCOMPARE(PreviewPictureSize(QSize(1000, 1000)), QSize(200, 200));
}

void ResultPreviewTest::firstRowIsPreviewedAsText() {
    ResultFakeHost host;
    host.engine.contents[1] = {'h', 'e', 'l', 'l', 'o', 0, '!'};
    CResultPage page(&host);
    page.SetResults({MakeHit("notes.txt", 1, 7), MakeHit("other.txt", 2, 3)});
    page.Tree()->setCurrentItem(page.Tree()->findItems("txt Files (2)", Qt::MatchRecursive).first());
    QCOMPARE(host.previews, 1);
    QCOMPARE(page.PreviewArea()->text(), QString("hello.!\r\n"));
    QVERIFY(page.PreviewArea()->alignment() & Qt::AlignLeft);

    // Selecting the second row previews it; it has no content.
    page.Table()->selectRow(1);
    QCOMPARE(host.previews, 2);
    QCOMPARE(page.PreviewArea()->text(), QString("\r\n"));
}

void ResultPreviewTest::widePictureIsScaledIntoArea() {
    TempDir dir;
    QImage image(1400, 300, QImage::Format_RGB32);
    image.fill(Qt::red);
    QVERIFY(image.save(QString::fromStdString(dir.file("tmp.png"))));
    ResultFakeHost host;
    host.engine.picturePath = dir.file("tmp.png");
    CResultPage page(&host);
    page.SetResults({MakeHit("wide.png", 1, 100)});
    page.Tree()->setCurrentItem(page.Tree()->findItems("png Files (1)", Qt::MatchRecursive).first());
    QCOMPARE(page.PreviewArea()->pixmap().size(), QSize(700, 150));
    QVERIFY(page.PreviewArea()->text().isEmpty());
}

void ResultPreviewTest::narrowPictureKeepsItsSize() {
    TempDir dir;
    QImage image(700, 900, QImage::Format_RGB32);
    image.fill(Qt::blue);
    QVERIFY(image.save(QString::fromStdString(dir.file("tmp.jpg"))));
    ResultFakeHost host;
    host.engine.picturePath = dir.file("tmp.jpg");
    CResultPage page(&host);
    page.SetResults({MakeHit("tall.jpg", 1, 100)});
    page.Tree()->setCurrentItem(page.Tree()->findItems("jpg Files (1)", Qt::MatchRecursive).first());
    QCOMPARE(page.PreviewArea()->pixmap().size(), QSize(700, 900));
    QCOMPARE(page.PreviewArea()->alignment(), Qt::AlignCenter);
}

void ResultPreviewTest::missingPictureLeavesAreaAlone() {
    TempDir dir;
    ResultFakeHost host;
    host.engine.contents[1] = {'k', 'e', 'e', 'p'};
    CResultPage page(&host);
    page.SetResults({MakeHit("keep.txt", 1, 4), MakeHit("gone.bmp", 2, 4)});
    page.Tree()->setCurrentItem(page.Tree()->findItems("txt Files (1)", Qt::MatchRecursive).first());
    QCOMPARE(page.PreviewArea()->text(), QString("keep\r\n"));
    host.engine.picturePath = dir.file("tmp.bmp"); // named, never written
    page.Tree()->setCurrentItem(page.Tree()->findItems("bmp Files (1)", Qt::MatchRecursive).first());
    QCOMPARE(page.PreviewArea()->text(), QString("keep\r\n"));
}

QTEST_MAIN(ResultPreviewTest)
#include "ResultPreviewTest.moc"
