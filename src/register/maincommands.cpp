// The main window's commands: the card's new, edit, view and delete, the
// printout, the other windows, and cards in and out of files.
#include "mainwindow.h"
#include "core/listmodel.h"

#include "app/access.h"
#include "app/application.h"
#include "app/editablebox.h"
#include "app/filedialog.h"
#include "app/icons.h"
#include "app/keys.h"
#include "app/recordgrid.h"
#include "app/messages.h"
#include "app/paths.h"
#include "app/rights.h"
#include "app/session.h"
#include "app/settings.h"
#include "app/shell.h"
#include "cardfiles/cardimport.h"
#include "cardfiles/exportcards.h"
#include "core/cardstore.h"
#include "core/contactlist.h"
#include "core/ending.h"
#include "core/refvalues.h"
#include "core/searchindex.h"
#include "core/listfetch.h"
#include "core/tempfolder.h"
#include "core/users.h"
#include "printout/cardexport.h"

#include <QAction>
#include <QApplication>
#include <QActionGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDate>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QGridLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenuBar>
#include <QPainter>
#include <QProgressBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTableView>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <QScopeGuard>
#include <atomic>
#include <cstdio>
#include <functional>
#include <limits>
#include <exception>
#include <thread>

// ---------------------------------------------------------------- commands

void TMF::N4Click()
{
    if (!checkFullRights(this, m_ctx.session.SessionUser))
        return;
    emit openCard(CardMode::New, 0);
}

void TMF::N15Click()
{
    if (selectedId().isEmpty())
        return;
    if (!checkFullRights(this, m_ctx.session.SessionUser))
        return;
    emit openCard(CardMode::Edit, selectedId().toLongLong());
}

void TMF::N3Click()
{
    if (selectedId().isEmpty())
        return;
    emit openCard(CardMode::Read, selectedId().toLongLong());
}

void TMF::N17Click()
{
    const QString idText = selectedId();
    if (idText.isEmpty())
        return;
    if (!checkFullRights(this, m_ctx.session.SessionUser))
        return;
    if (msg::askYesNo(this,
                      QStringLiteral("Внимание! Запись будет удалена без возможности восстановления, продолжать ?"),
                      QStringLiteral("Удаление"))) {
        core::CardStore(db.access).remove(idText.toLongLong());
    }
    FillList();
}

void TMF::N13Click()
{
    emit showWindow(WindowId::Organizations);
}

void TMF::N14Click()
{
    emit showWindow(WindowId::Departments);
}

void TMF::N18Click()
{
    emit showWindow(WindowId::Posts);
}

void TMF::N2Click()
{
    emit showWindow(WindowId::Users);
}

void TMF::N10Click()
{
    emit showWindow(WindowId::About);
}

void TMF::tb_expClick()
{
    const QString id = selectedId();
    if (!id.isEmpty())
        ExportCard(id.toLongLong());
}

// The printed form of the stored card (never the fields of an open card):
// a new workbook made from the template Forms/form.xlsx, filled and opened
// in the desktop's spreadsheet program.
void TMF::ExportCard(qint64 id)
{
    core::CardStore store(db.access);
    const std::optional<core::CardRecord> card = store.load(id);
    if (!card) {
        QWidget *owner = QApplication::activeModalWidget();
        msg::error(owner ? owner : this,
                   QStringLiteral("Запись не обнаружена, рекомендуется тестирование базы данных"));
        return;
    }
    const std::optional<core::Accounts> accounts = store.loadAccounts(id);
    const std::unique_ptr<printout::Workbook> workbook =
        printout::newWorkbook([](const QString &file) { return shell::openFile(file); });
    const QString cut = printout::shortenedNotice(printout::exportCard(
        *workbook, {m_ctx.session.programFolder, m_ctx.session.PhotoFolder, m_ctx.session.tempFolder()}, *card,
        accounts));
    if (!cut.isEmpty()) // told once the printout is open
        msg::plain(nullptr, cut);
}

void TMF::FillRefLists()
{
    core::RefValues values(db.access);
    for (sql::Ref ref : sql::kRefs)
        emit refItemsRead(ref, values.list(ref));
}

namespace {

// A long piece of work on cards shows its progress after half a second and
// can be cancelled between two cards. The bar and the button are named for
// screen readers, which read the label's count as it changes.
class CardsProgress
{
public:
    CardsProgress(QWidget *owner, const QString &what, const QString &title) : m_dialog(what, QString(), 0, 1, owner)
    {
        auto *bar = new QProgressBar(&m_dialog);
        setAccessible(bar, QStringLiteral("Ход работы: ") + title);
        m_dialog.setBar(bar);
        auto *cancel = new QPushButton(QStringLiteral("Отмена"), &m_dialog);
        cancel->setObjectName(QStringLiteral("CardsProgressCancel"));
        setAccessible(cancel, QStringLiteral("Отмена"), QStringLiteral("Прервать между двумя карточками"));
        m_dialog.setCancelButton(cancel);
        m_dialog.setObjectName(QStringLiteral("CardsProgress"));
        m_dialog.setWindowTitle(title);
        setAccessible(&m_dialog, title);
        m_dialog.setWindowModality(Qt::WindowModal);
        m_dialog.setMinimumDuration(500);
        m_dialog.setAutoClose(false);
        m_dialog.setAutoReset(false);
        m_dialog.setMinimumWidth(420);
    }
    core::Progress callback()
    {
        return [this](int done, int total) {
            // Shown (and the events run, a cancel among them) a few times a
            // second, not for every card.
            if (done == total || !m_shownAt.isValid() || m_shownAt.elapsed() >= 50) {
                m_shownAt.start();
                m_dialog.setMaximum(std::max(total, 1));
                m_dialog.setValue(done);
                m_dialog.setLabelText(m_label.arg(QLocale().toString(done), QLocale().toString(total)));
            }
            return !m_dialog.wasCanceled();
        };
    }
    void setCounting(const QString &label) { m_label = label; }
    void close() { m_dialog.close(); }

    // Shown at once, with no figures and its Cancel, while `work` runs on a
    // thread of its own; the window's events go on meanwhile. `cancel` is
    // set when the user cancels, and the wait ends then (the work should
    // stop soon: it is joined). False when cancelled.
    bool runBeside(const QString &label, std::atomic_bool &cancel, const std::function<void()> &work)
    {
        m_dialog.setRange(0, 0);
        m_dialog.setLabelText(label);
        m_dialog.show();
        QEventLoop loop;
        const QMetaObject::Connection cancelled =
            QObject::connect(&m_dialog, &QProgressDialog::canceled, &loop, &QEventLoop::quit);
        // What the work throws (a file too large for memory) is thrown here,
        // on the window's thread, where it is told as before.
        std::exception_ptr failure;
        std::thread worker([&] {
            try {
                work();
            } catch (...) {
                failure = std::current_exception();
            }
            QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
        });
        loop.exec();
        QObject::disconnect(cancelled);
        if (m_dialog.wasCanceled())
            cancel = true;
        worker.join();
        m_dialog.setRange(0, 1);
        if (failure)
            std::rethrow_exception(failure);
        return !m_dialog.wasCanceled();
    }

private:
    QProgressDialog m_dialog;
    QElapsedTimer m_shownAt;
    QString m_label = QStringLiteral("%1 из %2");
};

} // namespace

void TMF::ImportCards()
{
    if (!checkFullRights(this, m_ctx.session.SessionUser))
        return;
    const QString path = filedlg::openCards(this);
    if (path.isEmpty())
        return;
    core::CardImport import(db.access, m_ctx.session.PhotoFolder, m_ctx.session.tempFolder());
    CardsProgress progress(this, QStringLiteral("Проверка карточек файла..."), QStringLiteral("Импорт карточек"));
    // The file is read beside the window's thread (a large one takes a
    // while), the progress up from the start and its Cancel stopping the
    // reading; the cards are then checked against the database here.
    std::atomic_bool cancel = false;
    core::CardFile file;
    if (!progress.runBeside(QStringLiteral("Чтение файла..."), cancel,
                            [&] { file = core::CardImport::load(path, &cancel); }))
        return;
    progress.setCounting(QStringLiteral("Проверка карточек файла: %1 из %2"));
    const bool read = import.check(std::move(file), progress.callback());
    progress.close();
    if (!read) {
        if (!import.error().isEmpty())
            msg::error(this, import.error());
        return;
    }
    const QString name = QFileInfo(path).fileName();
    if (import.total() == 0) {
        msg::plain(this, QStringLiteral("В файле «%1» нет карточек.").arg(name));
        return;
    }
    const QString summary = import.summary(name);
    bool addDuplicates = false;
    if (import.duplicates() > 0) {
        const int answer = msg::choose(
            this, summary + QStringLiteral("\r\rКак поступить с похожими карточками?"),
            QStringLiteral("Импорт карточек"),
            {QStringLiteral("Пропустить похожие"), QStringLiteral("Добавить все"), QStringLiteral("Отмена")});
        if (answer == 2)
            return;
        addDuplicates = answer == 1;
    } else if (msg::choose(this, summary + QStringLiteral("\r\rСохранить карточки в базе данных?"),
                           QStringLiteral("Импорт карточек"),
                           {QStringLiteral("Импортировать"), QStringLiteral("Отмена")}) != 0) {
        return;
    }
    core::ImportReport report;
    {
        CardsProgress storing(this, QStringLiteral("Импорт карточек..."), QStringLiteral("Импорт карточек"));
        storing.setCounting(QStringLiteral("Импорт карточек: %1 из %2"));
        report = import.store(addDuplicates, m_ctx.session.SessionUser.id, storing.callback());
    }
    if (core::endingAsked()) {
        // Ended by a termination request (a log-out): the report goes to the
        // session's log, since the program closes without showing it.
        std::fprintf(stderr, "%s\n", qUtf8Printable(report.text(15).replace(QLatin1Char('\r'), QLatin1Char('\n'))));
        return;
    }
    FillRefLists();
    FillList();
    msg::show(this, report.text(15), QStringLiteral("Импорт карточек"), msg::Buttons::Ok);
}

void TMF::N23Click()
{
    if (!checkFullRights(this, m_ctx.session.SessionUser))
        return;
    emit showWindow(WindowId::Duplicates);
}

void TMF::N24Click()
{
    // Each user manages his own device passwords: no rights asked.
    emit showWindow(WindowId::Devices);
}

void TMF::ExportCards()
{
    finishFill();
    const int count = m_model->cardCount();
    if (count == 0) {
        msg::plain(this, QStringLiteral("В списке нет карточек: экспортировать нечего."));
        return;
    }
    QList<qint64> ids;
    const QString selected = selectedId();
    if (count > 1 && !selected.isEmpty()) {
        const QString who = m_model->cell(selectedRow(), 1).simplified(); // surname, name, patronymic
        const int answer = msg::choose(
            this,
            QStringLiteral("Экспортировать все карточки списка (%1) или только выбранную («%2»)?")
                .arg(QLocale().toString(count), who),
            QStringLiteral("Экспорт карточек"),
            {QStringLiteral("Все карточки списка"), QStringLiteral("Только выбранную"), QStringLiteral("Отмена")});
        if (answer == 2)
            return;
        if (answer == 1)
            ids << selected.toLongLong();
    }
    if (ids.isEmpty())
        for (int r = 0; r < count; ++r)
            ids << m_model->id(r).toLongLong();
    const filedlg::SavedCards target = filedlg::saveCards(this, QStringLiteral("Карточки.vcf"));
    if (target.path.isEmpty())
        return;
    const core::CardFormat format = target.type;
    core::ExportReport report;
    {
        CardsProgress progress(this, QStringLiteral("Экспорт карточек..."), QStringLiteral("Экспорт карточек"));
        progress.setCounting(QStringLiteral("Экспорт карточек: %1 из %2"));
        report = core::exportCards(db.access, m_ctx.session.PhotoFolder, ids, format, target.path, progress.callback());
    }
    if (!report.error.isEmpty())
        msg::error(this, report.error);
    else
        msg::show(this, report.text(target.path, 15), QStringLiteral("Экспорт карточек"), msg::Buttons::Ok);
}
