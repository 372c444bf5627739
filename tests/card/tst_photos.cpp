// A card's photo through the card window, and the fragment tool.

#include "app/context.h"
#include "app/filedialog.h"
#include "app/messages.h"
#include "app/paths.h"
#include "app/shell.h"
#include "app/session.h"
#include "card/cardwindow.h"
#include "core/stamp.h"
#include "core/listmodel.h"
#include "fragment/fragmentwindows.h"
#include "register/mainwindow.h"
#include "cardfixture.h"
#include "uitest.h"

#include <QComboBox>
#include <QImageReader>
#include <QProgressDialog>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>
#include <QtTest>
#include <atomic>
#include <thread>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace Qt::StringLiterals;
using uitest::find;
using uitest::Program;

namespace {

// The shared fixture with the photo's helpers.
struct Fixture : cardtest::CardFixture
{
    using CardFixture::CardFixture;
    void click(const char *button) { find<QToolButton>(rf, QLatin1String(button))->click(); }
    // A picture file of its own colour.
    QString picture(const QString &name, QColor colour, QSize size = QSize(40, 30))
    {
        QImage img(size, QImage::Format_RGB32);
        img.fill(colour);
        const QString path = p.root.filePath(name);
        img.save(path);
        return path;
    }
    qint64 card(const QString &fam)
    {
        return p.addCard(cardtest::listed(fam, {{u"sysinfo"_s, u"1_01012026_101010"_s}, {u"fpath"_s, u""_s}}));
    }
    // Cuts a fragment out of a picture in the fragment tool and accepts it.
    void acceptFragment()
    {
        TEF *ef = uitest::forms(mf).EF;
        filedlg::script({picture(QStringLiteral("группа.png"), Qt::darkCyan, QSize(80, 60))});
        find<QToolButton>(ef, QStringLiteral("ToolButton2"))->click();
        auto *im1 = find<FragmentCanvas>(ef, QStringLiteral("im1"));
        QTest::mousePress(im1, Qt::LeftButton, {}, QPoint(5, 5));
        QTest::mouseMove(im1, QPoint(50, 40));
        QTest::mouseRelease(im1, Qt::LeftButton, {}, QPoint(50, 40));
        find<QToolButton>(uitest::forms(mf).EF1, QStringLiteral("ToolButton4"))->click();
    }
    // The texts of the messages shown since the last look, taken.
    QString shownTexts() { return uitest::texts().join(QLatin1Char('|')); }
};

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeAll(const QString &path, const QByteArray &data)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(data);
}

// A PNG file whose header says `size`; its pixels are not there.
QByteArray pngHeader(QSize size)
{
    auto chunk = [](const QByteArray &typeAndData) {
        quint32 crc = 0xFFFFFFFF;
        for (char c : typeAndData) {
            crc ^= quint8(c);
            for (int k = 0; k < 8; ++k)
                crc = (crc >> 1) ^ (0xEDB88320 & (0 - (crc & 1)));
        }
        crc = ~crc;
        auto be = [](quint32 v) { return QByteArray(1, char(v >> 24)) + char(v >> 16) + char(v >> 8) + char(v); };
        return be(quint32(typeAndData.size() - 4)) + typeAndData + be(crc);
    };
    QByteArray ihdr("IHDR");
    for (int v : {size.width(), size.height()})
        ihdr += QByteArray(1, char(v >> 24)) + char(v >> 16) + char(v >> 8) + char(v);
    ihdr += QByteArray("\x08\x02\x00\x00\x00", 5); // 8-bit RGB
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + chunk(ihdr) + chunk("IDAT") + chunk("IEND");
}

// The luminance table of a quality-75 JPEG, in the file's zigzag order.
QByteArray quality75Luminance()
{
    static const int base[64] = {16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
                                 14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
                                 18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
                                 49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};
    static const int zigzag[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
                                   12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
                                   35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
                                   58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};
    QByteArray out;
    for (int i = 0; i < 64; ++i)
        out.append(char(std::clamp((base[zigzag[i]] * 50 + 50) / 100, 1, 255)));
    return out;
}

} // namespace

class TestPhotos : public QObject
{
    Q_OBJECT

private slots:
    void choosingSavingViewing()
    {
        Fixture f;
        const QString first = f.picture(QStringLiteral("Фото Иванова 1.png"), Qt::red);
        f.open(CardMode::New);
        find<QLineEdit>(f.rf, QStringLiteral("ed_fam"))->setText(QStringLiteral("Новиков"));
        filedlg::script({first});
        f.click("sb_load");
        QCOMPARE(f.rf->PendingPhoto, first);
        QVERIFY(f.rf->CardChanged);
        f.click("sb_look"); // nothing stored yet: nothing to show
        QVERIFY(shell::takeOpened().isEmpty());
        f.click("tb_save");
        QVERIFY(!f.rf->isVisible());
        const QString stamp = f.value(QStringLiteral("SELECT sysinfo FROM base"));
        QCOMPARE(f.value(QStringLiteral("SELECT fpath FROM base")), stamp + QStringLiteral("\\Фото Иванова 1.png"));
        const QString stored = f.p.folder + u"/files/"_s + stamp + u"/Фото Иванова 1.png"_s;
        QCOMPARE(readAll(stored), readAll(first));

        // Edit mode: viewing opens the stored file; a second picture of the same name replaces it.
        const qint64 id = f.value(QStringLiteral("SELECT pk_id FROM base")).toLongLong();
        f.open(CardMode::Edit, id);
        QCOMPARE(f.rf->StoredPhoto, stamp + QStringLiteral("\\Фото Иванова 1.png"));
        f.click("sb_look");
        QCOMPARE(shell::takeOpened(), QList<QUrl>{QUrl::fromLocalFile(QDir::toNativeSeparators(stored))});
        QDir().mkpath(f.p.root.filePath(u"other"_s));
        const QString second = f.picture(QStringLiteral("other/Фото Иванова 1.png"), Qt::blue);
        filedlg::script({second});
        f.click("sb_load");
        f.click("tb_save");
        QCOMPARE(readAll(stored), readAll(second));
        QCOMPARE(f.rf->PendingPhoto, QString()); // stored: the card follows the new photo
        QCOMPARE(f.rf->StoredPhoto, stamp + QStringLiteral("\\Фото Иванова 1.png"));
        // The stored file chosen again: nothing is destroyed.
        filedlg::script({stored});
        f.click("sb_load");
        f.click("tb_save");
        QCOMPARE(readAll(stored), readAll(second));

        // Chosen in edit mode, closed with No: nothing changes on disk or in the database.
        const QString third = f.picture(QStringLiteral("third.png"), Qt::green);
        filedlg::script({third});
        f.click("sb_load");
        msg::script({msg::Answer::No});
        f.rf->close();
        QCOMPARE(f.value(QStringLiteral("SELECT fpath FROM base")), stamp + QStringLiteral("\\Фото Иванова 1.png"));
        QCOMPARE(QDir(f.p.folder + u"/files/"_s + stamp).entryList(QDir::Files), QStringList{u"Фото Иванова 1.png"_s});
    }

    // Two desks on one card, a photo each: a colleague's photo stored since
    // this card was read is never deleted or replaced silently; a save that
    // fails leaves the photo on disk as it was.
    void twoDesksOnePhoto()
    {
        Fixture f;
        f.p.exec(QStringLiteral("ALTER TABLE post ADD CONSTRAINT no_bad CHECK (post <> 'Плохая')"));
        const qint64 id = f.card(QStringLiteral("Фотин"));
        const QString folder = f.p.folder + u"/files/1_01012026_101010/"_s;
        QDir().mkpath(folder);
        QVERIFY(QFile::copy(f.picture(QStringLiteral("p1.png"), Qt::red), folder + u"p1.png"_s));
        QVERIFY(QFile::copy(f.picture(QStringLiteral("p2.png"), Qt::blue), folder + u"p2.png"_s));
        f.p.exec(QStringLiteral("UPDATE base SET fpath = '1_01012026_101010\\p1.png'"));
        f.open(CardMode::Edit, id);
        f.p.exec(QStringLiteral("UPDATE base SET fpath = '1_01012026_101010\\p2.png'")); // the colleague's photo
        const QString colleagues = QStringLiteral("1_01012026_101010\\p2.png");
        // Deleting what this desk shows: the question of the clash, and the colleague's file stays.
        msg::takeShown();
        msg::script({msg::Answer::Yes, msg::Answer::No});
        f.click("sb_del");
        QVERIFY(f.shownTexts().contains(QStringLiteral("Вы оба изменили: «Фотография».")));
        QVERIFY(QFile::exists(folder + u"p1.png"_s) && QFile::exists(folder + u"p2.png"_s));
        QCOMPARE(f.value(QStringLiteral("SELECT fpath FROM base")), colleagues);
        // A new photo over the colleague's: asked, nothing stored; after "Нет" stored knowingly.
        const QString mine = f.picture(QStringLiteral("mine.png"), Qt::green);
        filedlg::script({mine});
        f.click("sb_load");
        // No copy's progress window is left to cover the question (its own
        // timer would show it there, and it would take the mouse).
        int progressWindows = -1;
        msg::setObserver(
            [&](const msg::Shown &) { progressWindows = int(f.rf->findChildren<QProgressDialog *>().size()); });
        msg::script({msg::Answer::No});
        f.click("tb_save");
        msg::setObserver({});
        QCOMPARE(progressWindows, 0);
        QVERIFY(f.shownTexts().contains(QStringLiteral("«Фотография»")));
        QCOMPARE(f.value(QStringLiteral("SELECT fpath FROM base")), colleagues);
        QVERIFY(f.rf->CardChanged);
        f.click("tb_save");
        QCOMPARE(f.shownTexts(), QString());
        QCOMPARE(f.value(QStringLiteral("SELECT fpath FROM base")), QStringLiteral("1_01012026_101010\\mine.png"));
        QCOMPARE(readAll(folder + u"mine.png"_s), readAll(mine));
        QVERIFY(QFile::exists(folder + u"p2.png"_s)); // the colleague's file is not lost

        // A save that fails (here the post's book refuses the new post) stores
        // nothing at all: neither the surname nor the photo of the same name on disk.
        find<QComboBox>(f.rf, QStringLiteral("ed_post"))->setEditText(QStringLiteral("Плохая"));
        QDir().mkpath(f.p.root.filePath(u"other"_s));
        const QString same = f.picture(QStringLiteral("other/mine.png"), Qt::yellow);
        filedlg::script({same});
        f.click("sb_load");
        find<QLineEdit>(f.rf, QStringLiteral("ed_fam"))->setText(QStringLiteral("Изменён"));
        f.rf->tb_save->click();
        QVERIFY(f.shownTexts().contains(QStringLiteral("NO_BAD"))); // the database's error is told
        QCOMPARE(f.value(QStringLiteral("SELECT fam || post FROM base")), QStringLiteral("ФотинП"));
        QCOMPARE(readAll(folder + u"mine.png"_s), readAll(mine));
        QVERIFY(f.rf->CardChanged);
        QCOMPARE(QDir(f.p.folder + u"/temp"_s).entryList({u"*.part"_s}, QDir::Files), QStringList());
        msg::script({msg::Answer::No});
        f.rf->close();
    }

    void deletingThePhoto()
    {
        Fixture f;
        const qint64 id = f.card(QStringLiteral("Фотин"));
        QDir().mkpath(f.p.folder + u"/files/1_01012026_101010"_s);
        QVERIFY(
            QFile::copy(f.picture(QStringLiteral("a.png"), Qt::red), f.p.folder + u"/files/1_01012026_101010/a.png"_s));
        f.p.exec(QStringLiteral("UPDATE base SET fpath = '1_01012026_101010\\a.png'"));
        f.open(CardMode::Edit, id);
        find<QLineEdit>(f.rf, QStringLiteral("ed_fam"))->setText(QStringLiteral("Изменён"));
        msg::script({msg::Answer::No});
        f.click("sb_del");
        QVERIFY(QFile::exists(f.p.folder + u"/files/1_01012026_101010/a.png"_s));
        msg::takeShown();
        msg::script({msg::Answer::Yes});
        f.click("sb_del");
        QCOMPARE(f.shownTexts(),
                 QStringLiteral("Внимание! Фото будет удалено без возможности восстановления, продолжать ?"));
        QVERIFY(!QFile::exists(f.p.folder + u"/files/1_01012026_101010/a.png"_s));
        QVERIFY(QDir(f.p.folder + u"/files/1_01012026_101010"_s).exists());
        QCOMPARE(f.value(QStringLiteral("SELECT fpath FROM base")), QString());
        // Loaded again: the unsaved surname is gone, no photo, no change mark.
        QCOMPARE(find<QLineEdit>(f.rf, QStringLiteral("ed_fam"))->text(), QStringLiteral("Фотин"));
        QCOMPARE(f.rf->StoredPhoto, QString());
        QVERIFY(!f.rf->CardChanged);
        f.click("sb_del");
        QCOMPARE(f.shownTexts(), QStringLiteral("Фото не загружено"));
        // A stored path whose file is gone: emptied all the same, and told.
        f.p.exec(QStringLiteral("UPDATE base SET fpath = '1_01012026_101010\\gone.png'"));
        f.rf->close();
        f.open(CardMode::Edit, id);
        msg::takeShown();
        f.click("sb_look");
        QCOMPARE(f.shownTexts(), QStringLiteral("Файл не найден!"));
        msg::script({msg::Answer::Yes});
        f.click("sb_del");
        QVERIFY(f.shownTexts().contains(QStringLiteral("Файла фотографии уже нет")));
        QCOMPARE(f.value(QStringLiteral("SELECT fpath FROM base")), QString());
    }

    void rightsAndModes_data()
    {
        QTest::addColumn<QString>("level");
        QTest::addColumn<CardMode>("mode");
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("message");
        const QString load =
            QStringLiteral("Фотографии загружаются в режиме редактирования или новой записи с полными правами");
        const QString del = QStringLiteral("Удаление проводится в режиме редактирования с правами полного доступа");
        const std::pair<const char *, CardMode> modes[] = {
            {"new", CardMode::New}, {"edit", CardMode::Edit}, {"read", CardMode::Read}};
        for (const auto &[name, mode] : modes) {
            QTest::addRow("read rights, %s, load", name) << "read" << mode << "sb_load" << load;
            QTest::addRow("read rights, %s, fragment", name) << "read" << mode << "sb_pict" << load;
            QTest::addRow("read rights, %s, delete", name) << "read" << mode << "sb_del" << del;
        }
        QTest::newRow("full rights, read, load") << "full" << CardMode::Read << "sb_load" << load;
        QTest::newRow("full rights, read, fragment") << "full" << CardMode::Read << "sb_pict" << load;
        QTest::newRow("full rights, read, delete") << "full" << CardMode::Read << "sb_del" << del;
        QTest::newRow("full rights, new, delete") << "full" << CardMode::New << "sb_del" << del;
    }

    void rightsAndModes()
    {
        QFETCH(QString, level);
        QFETCH(CardMode, mode);
        QFETCH(QString, button);
        QFETCH(QString, message);
        Fixture f(level);
        const qint64 id = f.card(QStringLiteral("Правов"));
        f.p.exec(QStringLiteral("UPDATE base SET fpath = '1_01012026_101010\\a.png'"));
        f.open(mode, id);
        msg::takeShown();
        f.click(button.toLatin1().constData());
        QCOMPARE(f.shownTexts(), message);
        QCOMPARE(filedlg::asked(), 0);
        QVERIFY(!f.rf->CardChanged);
        QCOMPARE(f.value(QStringLiteral("SELECT fpath FROM base")), QStringLiteral("1_01012026_101010\\a.png"));
    }

    // Files that are no pictures: told, and the card goes on working.
    void unreadablePictures()
    {
        Fixture f;
        const QString notPicture = f.p.root.filePath(QStringLiteral("письмо.jpg"));
        QFile t(notPicture);
        QVERIFY(t.open(QIODevice::WriteOnly));
        t.write("это не картинка");
        t.close();
        const qint64 id = f.card(QStringLiteral("Битов"));
        f.open(CardMode::Edit, id);
        filedlg::script({notPicture});
        f.click("sb_load");
        QVERIFY(f.shownTexts().startsWith(QStringLiteral("Не удалось загрузить фотографию")));
        QCOMPARE(f.rf->PendingPhoto, QString());
        QVERIFY(!f.rf->CardChanged);
        // A picture too large to hold: told so, with the size that is accepted.
        const QString huge = f.p.root.filePath(QStringLiteral("большое.png"));
        writeAll(huge, pngHeader(QSize(8000, 7900)));
        filedlg::script({huge});
        f.click("sb_load");
        const QString told = f.shownTexts();
        QVERIFY2(told.contains(QStringLiteral("слишком большое: 8000 × 7900")) &&
                     told.contains(QStringLiteral("млн точек")),
                 qPrintable(told));
        QCOMPARE(f.rf->PendingPhoto, QString());
        f.rf->close();
        // A stored photo cut short: the card still finishes its set-up.
        const QByteArray png = readAll(f.picture(QStringLiteral("whole.png"), Qt::red, QSize(300, 300)));
        QDir().mkpath(f.p.folder + u"/files/1_01012026_101010"_s);
        QFile cut(f.p.folder + u"/files/1_01012026_101010/cut.png"_s);
        QVERIFY(cut.open(QIODevice::WriteOnly));
        cut.write(png.left(png.size() / 3));
        cut.close();
        f.p.exec(QStringLiteral("UPDATE base SET fpath = '1_01012026_101010\\cut.png'"));
        f.open(CardMode::Read, id);
        QVERIFY(f.shownTexts().startsWith(QStringLiteral("Не удалось загрузить фотографию")));
        QCOMPARE(f.rf->windowTitle(), QStringLiteral("Просмотр"));
        QCOMPARE(find<QLabel>(f.rf, QStringLiteral("sn1"))->text(), QStringLiteral("1 ..."));
        QVERIFY(!f.rf->CardChanged);
        // A stored path that leads outside the photo folder is not opened.
        f.p.exec(QStringLiteral("UPDATE base SET fpath = '..\\..\\whole.png'"));
        f.rf->close();
        f.open(CardMode::Edit, id);
        QVERIFY(f.shownTexts().contains(QStringLiteral("ведёт за пределы папки фотографий")));
        f.click("sb_look");
        QVERIFY(f.shownTexts().contains(QStringLiteral("ведёт за пределы папки фотографий")));
        QVERIFY(shell::takeOpened().isEmpty());
    }

    // A card's folder replaced by a link to elsewhere: the picture, the viewer
    // and the deletion touch nothing there, and say where the file is.
    void photoFolderReplacedByALink()
    {
        Fixture f;
        const qint64 id = f.card(QStringLiteral("Ссылкин"));
        QDir().mkpath(f.p.root.filePath(QStringLiteral("elsewhere")));
        const QString outside = f.picture(QStringLiteral("elsewhere/a.png"), Qt::red);
        QDir().mkpath(f.p.folder + u"/files"_s);
        QVERIFY(
            QFile::link(f.p.root.filePath(QStringLiteral("elsewhere")), f.p.folder + u"/files/1_01012026_101010"_s));
        f.p.exec(QStringLiteral("UPDATE base SET fpath = '1_01012026_101010\\a.png'"));
        const QString path = QDir::toNativeSeparators(f.p.folder + u"/files/1_01012026_101010/a.png"_s);
        f.open(CardMode::Edit, id);
        QString told = f.shownTexts();
        QVERIFY2(told.contains(QStringLiteral("лежит вне папки фотографий")) && told.contains(path), qPrintable(told));
        f.click("sb_look");
        told = f.shownTexts();
        QVERIFY2(told.contains(QStringLiteral("лежит вне папки фотографий")) && told.contains(path), qPrintable(told));
        QVERIFY(shell::takeOpened().isEmpty());
        msg::script({msg::Answer::Yes});
        f.click("sb_del");
        told = f.shownTexts();
        QVERIFY2(told.contains(QStringLiteral("лежит вне папки фотографий")) &&
                     !told.contains(QStringLiteral("уже нет")),
                 qPrintable(told));
        QCOMPARE(readAll(outside), readAll(f.picture(QStringLiteral("again.png"), Qt::red)));
        QCOMPARE(f.value(QStringLiteral("SELECT fpath FROM base")), QString());
    }

    // A pipe where a photo should be: nothing waits on it, the card opens at
    // once and says what is wrong; so do the viewer and the chosen picture.
    void pipeAsPhoto()
    {
#ifndef Q_OS_UNIX
        QSKIP("pipes in the file system are a Unix matter");
#else
        Fixture f;
        const qint64 id = f.card(QStringLiteral("Трубин"));
        QDir().mkpath(f.p.folder + u"/files/1_01012026_101010"_s);
        const QString pipe = f.p.folder + u"/files/1_01012026_101010/a.jpg"_s;
        QVERIFY(::mkfifo(QFile::encodeName(pipe).constData(), 0600) == 0);
        f.p.exec(QStringLiteral("UPDATE base SET fpath = '1_01012026_101010\\a.jpg'"));
        // Should anything wait on the pipe, a writer frees it after ten seconds.
        std::atomic<bool> finished{false};
        std::thread writer([&] {
            for (QElapsedTimer t; !finished; std::this_thread::sleep_for(std::chrono::milliseconds(20))) {
                if (!t.isValid())
                    t.start();
                if (t.elapsed() < 10000)
                    continue;
                const int fd = ::open(QFile::encodeName(pipe).constData(), O_WRONLY | O_NONBLOCK);
                if (fd >= 0)
                    ::close(fd);
            }
        });
        QElapsedTimer took;
        took.start();
        f.open(CardMode::Edit, id);
        const QString opening = f.shownTexts();
        f.click("sb_look");
        const QString viewing = f.shownTexts();
        filedlg::script({pipe});
        f.click("sb_load");
        const QString choosing = f.shownTexts();
        const qint64 elapsed = took.elapsed();
        finished = true;
        writer.join();
        QVERIFY2(elapsed < 5000, qPrintable(QString::number(elapsed)));
        for (const QString &told : {opening, viewing, choosing})
            QVERIFY2(told.contains(QStringLiteral("не обычный файл")), qPrintable(told));
        QVERIFY(shell::takeOpened().isEmpty());
        QCOMPARE(f.rf->PendingPhoto, QString());
#endif
    }

    // Another account plants this copy's scratch folder before the copy makes
    // it: as a link to elsewhere, or as a folder anybody may write to with
    // links named like the fragment files to come. The fragment lands in a
    // folder of this copy's own, and nothing planted is written through.
    void plantedScratchFolder_data()
    {
        QTest::addColumn<bool>("asLink");
        QTest::newRow("a link to elsewhere") << true;
        QTest::newRow("an open folder with links") << false;
    }

    void plantedScratchFolder()
    {
#ifndef Q_OS_UNIX
        QSKIP("needs symbolic links");
#else
        QFETCH(bool, asLink);
        Fixture f;
        const qint64 id = f.card(QStringLiteral("Подкидышев"));
        const QString planted = f.p.folder + u"/temp/"_s + paths::tempFolderName();
        const QString elsewhere = f.p.root.filePath(QStringLiteral("elsewhere"));
        const QString victim = f.p.root.filePath(QStringLiteral("victim.txt"));
        QDir().mkpath(elsewhere);
        QDir().mkpath(f.p.folder + u"/temp"_s);
        writeAll(victim, "mine");
        if (asLink) {
            QVERIFY(QFile::link(elsewhere, planted));
        } else {
            QDir().mkpath(planted);
            QVERIFY(::chmod(QFile::encodeName(planted).constData(), 0777) == 0);
            for (int s = 0; s < 10; ++s)
                QFile::link(victim,
                            planted + u"/"_s + makeStamp(1, QDateTime::currentDateTime().addSecs(s)) + u".jpg"_s);
        }
        f.open(CardMode::Edit, id);
        f.acceptFragment();
        const QString written = f.rf->PendingPhoto;
        QVERIFY2(!written.isEmpty() && QImageReader(written).canRead(), qPrintable(written + f.shownTexts()));
        QCOMPARE(readAll(victim), QByteArray("mine"));
        QCOMPARE(QDir(elsewhere).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
        const QString own = f.p.session->tempFolder();
        QVERIFY(QDir::fromNativeSeparators(own) != planted);
        QVERIFY(written.startsWith(own + QDir::separator()));
        struct stat st;
        QVERIFY(::lstat(QFile::encodeName(own).constData(), &st) == 0);
        QVERIFY(S_ISDIR(st.st_mode));
        QCOMPARE(st.st_mode & 0777, mode_t(0700));
#endif
    }

    void fragmentSelection()
    {
        Fixture f;
        const qint64 id = f.card(QStringLiteral("Фрагментов"));
        f.open(CardMode::Edit, id);
        TEF *ef = uitest::forms(f.mf).EF;
        TEF1 *ef1 = uitest::forms(f.mf).EF1;
        // A picture whose every pixel differs from its neighbours.
        QImage source(120, 90, QImage::Format_RGB32);
        for (int y = 0; y < source.height(); ++y)
            for (int x = 0; x < source.width(); ++x)
                source.setPixel(x, y, qRgb(x * 2, y * 2, (x * y) % 256));
        const QString path = f.p.root.filePath(QStringLiteral("группа.png"));
        source.save(path);
        filedlg::script({path});
        find<QToolButton>(ef, QStringLiteral("ToolButton2"))->click();
        auto *im1 = find<FragmentCanvas>(ef, QStringLiteral("im1"));
        QCOMPARE(im1->picture.size(), QSize(120, 90));
        QCOMPARE(ef->size(), QSize(120 + 16, 90 + TEF::kToolBarHeight + 38));

        // Four directions between the same corners give the same pixels and leave no trace.
        const QPoint a(10, 20), b(70, 65);
        const QImage expected = source.copy(QRect(10, 20, 60, 45));
        const QPair<QPoint, QPoint> drags[] = {
            {a, b}, {b, a}, {QPoint(a.x(), b.y()), QPoint(b.x(), a.y())}, {QPoint(b.x(), a.y()), QPoint(a.x(), b.y())}};
        for (const auto &[from, to] : drags) {
            QTest::mousePress(im1, Qt::LeftButton, {}, from);
            QVERIFY(ef->Drawing);
            QTest::mouseMove(im1, (from + to) / 2);
            QVERIFY(im1->picture != source); // the band shows while dragging
            QTest::mouseMove(im1, to);
            QTest::mouseRelease(im1, Qt::LeftButton, {}, to);
            QVERIFY(!ef->Drawing);
            QCOMPARE(im1->picture, source);
            QCOMPARE(ef1->fragment(), expected);
            QVERIFY(ef1->isVisible());
        }
        // A drag beyond the picture stops at its edge.
        ef->show();
        QTest::mousePress(im1, Qt::LeftButton, {}, QPoint(100, 80));
        QTest::mouseMove(im1, QPoint(300, 300));
        QCOMPARE(QCursor::pos(), im1->mapToGlobal(QPoint(119, 89))); // the pointer is held on the last pixel
        QTest::mouseRelease(im1, Qt::LeftButton, {}, QPoint(300, 300));
        QCOMPARE(ef1->fragment(), source.copy(QRect(100, 80, 20, 10)));
        QCOMPARE(im1->picture, source);

        // A click without a drag cannot be accepted.
        QTest::mousePress(im1, Qt::LeftButton, {}, QPoint(5, 5));
        QTest::mouseRelease(im1, Qt::LeftButton, {}, QPoint(5, 5));
        msg::takeShown();
        find<QToolButton>(ef1, QStringLiteral("ToolButton4"))->click();
        QVERIFY(f.shownTexts().startsWith(QStringLiteral("Фрагмент не выделен")));
        QVERIFY(!f.rf->CardChanged);

        // Accepted: a quality-75 baseline JPEG in temp/ (made if missing) becomes the card's chosen photo.
        QVERIFY(!QDir(f.p.folder + u"/temp"_s).exists());
        QTest::mousePress(im1, Qt::LeftButton, {}, a);
        QTest::mouseMove(im1, b);
        QTest::mouseRelease(im1, Qt::LeftButton, {}, b);
        find<QToolButton>(ef1, QStringLiteral("ToolButton4"))->click();
        const QString written = f.rf->PendingPhoto;
        QVERIFY2(written.startsWith(QDir::toNativeSeparators(f.p.session->tempFolder() + u"/1_"_s)) &&
                     written.endsWith(u".jpg"_s),
                 qPrintable(written));
        QVERIFY(f.rf->CardChanged);
        QVERIFY(f.rf->windowTitle().endsWith(QStringLiteral("(!)")));
        const QByteArray jpeg = readAll(written);
        QVERIFY(jpeg.contains(QByteArray("\xFF\xC0", 2)));  // baseline
        QVERIFY(!jpeg.contains(QByteArray("\xFF\xC2", 2))); // not progressive
        const qsizetype dqt = jpeg.indexOf(QByteArray("\xFF\xDB", 2));
        QVERIFY(dqt > 0);
        QCOMPARE(quint8(jpeg[dqt + 4]), quint8(0)); // 8-bit table 0: luminance
        QCOMPARE(jpeg.mid(dqt + 5, 64), quality75Luminance());
        QCOMPARE(QImageReader(written).size(), QSize(60, 45));
        QVERIFY(!ef->isVisible() && !ef1->isVisible());
        QVERIFY(im1->picture.isNull()); // opens empty next time
    }
};

QTEST_MAIN(TestPhotos)
#include "tst_photos.moc"
