#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

#include <memory>

#include "app/MainIcon.h"
#include "app/Unit1.h"

namespace {

// Where every control sits in the window as it opens.
struct DesignedControl {
    const char* name;
    const char* parent;
    QRect geometry;  // for labels only the position counts: they fit their text
    int fontPixels;
    bool bold;
    const char* text;
};

const DesignedControl kControls[] = {
    {"ListView1", "Form1", {0, 0, 813, 410}, 13, true, ""},
    {"Button1", "Form1", {10, 414, 580, 36}, 13, true, "Search"},
    {"GroupBox1", "Form1", {10, 454, 580, 84}, 13, true, "New"},
    {"Label1", "GroupBox1", {16, 24, 0, 0}, 13, true, "IP"},
    {"Label2", "GroupBox1", {152, 24, 0, 0}, 13, true, "Submask"},
    {"Label3", "GroupBox1", {280, 24, 0, 0}, 13, true, "Gateway"},
    {"Label4", "GroupBox1", {408, 24, 0, 0}, 13, true, "Port"},
    {"Label5", "GroupBox1", {480, 24, 0, 0}, 13, true, "BaudRate"},
    {"Edit1", "GroupBox1", {16, 40, 121, 24}, 13, true, ""},
    {"Edit3", "GroupBox1", {280, 40, 121, 24}, 13, true, ""},
    {"Edit4", "GroupBox1", {408, 40, 57, 24}, 13, true, ""},
    {"ComboBox1", "GroupBox1", {480, 40, 73, 24}, 13, true, ""},
    {"Edit2", "GroupBox1", {152, 40, 121, 24}, 13, true, ""},
    {"Button2", "Form1", {5, 550, 180, 36}, 13, true, "Broadcast Setup"},
    {"Button3", "Form1", {206, 550, 180, 36}, 13, true, "Connect Setup"},
    {"GroupBox2", "Form1", {615, 423, 185, 177}, 16, true, "ZEK Only"},
    {"Label7", "GroupBox2", {28, 33, 0, 0}, 16, true, "ID:"},
    {"Edit5", "GroupBox2", {62, 29, 67, 28}, 16, false, "0"},
    {"Button4", "GroupBox2", {29, 70, 124, 35}, 13, true, "Set ID"},
    {"Label6", "GroupBox2", {62, 133, 0, 0}, 16, true, "status"},
};

// What the operator reads on a control.
QString ShownText(QWidget* control) {
    if (auto* button = qobject_cast<QPushButton*>(control)) {
        return button->text();
    }
    if (auto* edit = qobject_cast<QLineEdit*>(control)) {
        return edit->text();
    }
    if (auto* group = qobject_cast<QGroupBox*>(control)) {
        return group->title();
    }
    if (auto* label = qobject_cast<QLabel*>(control)) {
        return label->text();
    }
    if (auto* combo = qobject_cast<QComboBox*>(control)) {
        return combo->currentText();
    }
    if (auto* list = qobject_cast<QTreeWidget*>(control)) {
        return list->topLevelItemCount() == 0 ? QString() : QStringLiteral("<rows>");
    }
    return QStringLiteral("<unknown kind>");
}

// The bottom-anchored controls with their design rectangles.
const char* const kBottomAnchored[] = {"Button1", "GroupBox1", "Button2", "Button3", "GroupBox2"};

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TForm1> form_;

    QWidget* control(const char* name) { return form_->findChild<QWidget*>(QLatin1String(name)); }

    // The control of the tab chain that holds the keyboard focus, also when
    // the focus sits in one of its inner widgets (the combo box's editor).
    QWidget* focusedControl() {
        for (QWidget* w = QApplication::focusWidget(); w != nullptr; w = w->parentWidget()) {
            if (!w->objectName().isEmpty()) {
                return w;
            }
        }
        return nullptr;
    }

    void resizeClient(int width, int height) {
        form_->resize(width, height);
        QTRY_COMPARE(form_->size(), QSize(width, height));
    }

    int versionWidth() { return form_->ListView1->header()->sectionSize(6); }

private slots:
    void init() {
        form_ = std::make_unique<TForm1>();
        form_->show();
        QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
    }
    void cleanup() { form_.reset(); }

    void windowOpensAsDesigned() {
        QCOMPARE(form_->windowTitle(), QStringLiteral("Velquint Tool  V1.06"));
        QCOMPARE(form_->objectName(), QStringLiteral("Form1"));
        QCOMPARE(form_->size(), QSize(819, 635));
        QCOMPARE(form_->pos(), QPoint(414, 119));
        QVERIFY(!form_->isMaximized() && !form_->isMinimized());
        const Qt::WindowFlags flags = form_->windowFlags();
        QVERIFY(flags.testFlag(Qt::WindowMinimizeButtonHint));
        QVERIFY(flags.testFlag(Qt::WindowMaximizeButtonHint));
        QCOMPARE(form_->font().pixelSize(), 11);
        QCOMPARE(form_->font().weight(), QFont::Normal);
        QCOMPARE(form_->palette().color(form_->backgroundRole()),
                 QApplication::palette().color(QPalette::Button));
    }

    void everyControlHasItsPlaceFontAndText() {
        for (const DesignedControl& designed : kControls) {
            QWidget* widget = control(designed.name);
            QVERIFY2(widget != nullptr, designed.name);
            QCOMPARE(widget->parentWidget()->objectName(), QLatin1String(designed.parent));
            if (qobject_cast<QLabel*>(widget) != nullptr) {
                QCOMPARE(widget->pos(), designed.geometry.topLeft());
                QCOMPARE(widget->size(), widget->sizeHint());
            } else {
                QCOMPARE(widget->geometry(), designed.geometry);
            }
            QCOMPARE(widget->font().pixelSize(), designed.fontPixels);
            QCOMPARE(widget->font().weight(), designed.bold ? QFont::Bold : QFont::Normal);
            QCOMPARE(ShownText(widget), QLatin1String(designed.text));
            QVERIFY2(widget->isVisible() && widget->isEnabled(), designed.name);
        }
        // The members are the controls the names find.
        QCOMPARE(control("Edit4"), form_->Edit4);
        QCOMPARE(control("Label6"), form_->Label6);
        QCOMPARE(form_->findChild<QTimer*>(QStringLiteral("Timer1")), form_->Timer1);
    }

    void listIsAFlatReportList() {
        QTreeWidget* list = form_->ListView1;
        const QStringList captions = {"MAC ID", "IP",       "Submask", "Gateway",
                                      "Port",   "BaudRate", "Version"};
        const int widths[] = {150, 130, 130, 130, 80, 85};
        QCOMPARE(list->columnCount(), 7);
        for (int column = 0; column < 7; ++column) {
            QCOMPARE(list->headerItem()->text(column), captions[column]);
        }
        for (int column = 0; column < 6; ++column) {
            QCOMPARE(list->header()->sectionSize(column), widths[column]);
        }
        // "Version" fills the rest of the visible width.
        QCOMPARE(list->header()->length(), list->viewport()->width());
        QCOMPARE(list->topLevelItemCount(), 0);
        QVERIFY(!list->rootIsDecorated());
        QVERIFY(!list->isSortingEnabled());
        QVERIFY(list->header()->sectionsClickable());
        QVERIFY(!list->header()->isHidden());
        QCOMPARE(list->selectionMode(), QAbstractItemView::SingleSelection);
        QCOMPARE(list->selectionBehavior(), QAbstractItemView::SelectRows);
        QCOMPARE(list->editTriggers(), QAbstractItemView::NoEditTriggers);
    }

    void listKeepsRowsInTheOrderTheyCame() {
        QTreeWidget* list = form_->ListView1;
        list->addTopLevelItem(new QTreeWidgetItem(QStringList{"0C.00.00.00.00.02", "10.0.0.2"}));
        list->addTopLevelItem(new QTreeWidgetItem(QStringList{"0A.00.00.00.00.01", "10.0.0.1"}));
        // A header click is the table's business, not the list's: without the
        // window's handler, which rebuilds the list from the DeviceTable, the
        // rows stay as they are.
        QVERIFY(QObject::disconnect(list->header(), &QHeaderView::sectionClicked, form_.get(),
                                    nullptr));
        QTest::mouseClick(list->header()->viewport(), Qt::LeftButton, {},
                          QPoint(list->header()->sectionPosition(0) + 20, 5));
        QCOMPARE(list->topLevelItem(0)->text(0), QStringLiteral("0C.00.00.00.00.02"));
        QCOMPARE(list->topLevelItem(1)->text(0), QStringLiteral("0A.00.00.00.00.01"));
    }

    void selectedRowStaysVisibleWithoutFocus() {
        QTreeWidget* list = form_->ListView1;
        list->addTopLevelItem(new QTreeWidgetItem(QStringList{"0A.00.00.00.00.01"}));
        list->addTopLevelItem(new QTreeWidgetItem(QStringList{"0A.00.00.00.00.02"}));
        list->setCurrentItem(list->topLevelItem(0));
        QApplication::setActiveWindow(form_.get());
        form_->Edit1->setFocus();
        QTRY_VERIFY(!list->hasFocus());

        // Sample the empty far end of the "Version" cell of each row.
        const QImage image = list->viewport()->grab().toImage();
        const int x = list->viewport()->width() - 3;
        const QRect selected = list->visualItemRect(list->topLevelItem(0));
        const QRect other = list->visualItemRect(list->topLevelItem(1));
        const QColor highlight = list->palette().color(QPalette::Active, QPalette::Highlight);
        QCOMPARE(image.pixelColor(x, selected.center().y()).rgb(), highlight.rgb());
        QVERIFY(image.pixelColor(x, other.center().y()).rgb() != highlight.rgb());
    }

    void rowsCannotBeEdited() {
        QTreeWidget* list = form_->ListView1;
        auto* row = new QTreeWidgetItem(QStringList{"0A.00.00.00.00.01"});
        list->addTopLevelItem(row);
        const QRect cell = list->visualItemRect(row);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, cell.center());
        QTest::keyClick(list, Qt::Key_F2);
        QVERIFY(list->findChild<QLineEdit*>() == nullptr ||
                !list->findChild<QLineEdit*>()->isVisible());
        QCOMPARE(row->text(0), QStringLiteral("0A.00.00.00.00.01"));
    }

    void comboOffersTheEightRatesAndNoneChosen() {
        QComboBox* combo = form_->ComboBox1;
        QVERIFY(combo->isEditable());
        const QStringList rates = {"300",   "1200",  "4800",  "9600",
                                   "19200", "38400", "57600", "115200"};
        QCOMPARE(combo->count(), rates.size());
        for (int i = 0; i < rates.size(); ++i) {
            QCOMPARE(combo->itemText(i), rates[i]);
        }
        QCOMPARE(combo->currentIndex(), -1);
        QCOMPARE(combo->currentText(), QString());
    }

    void typedRateNeverBecomesAnItem() {
        // An item's index is a baud-rate code, so typing must not add items.
        QComboBox* combo = form_->ComboBox1;
        QApplication::setActiveWindow(form_.get());
        combo->setFocus();
        QTest::keyClicks(combo->lineEdit(), QStringLiteral("250000"));
        QTest::keyClick(combo->lineEdit(), Qt::Key_Return);
        QCOMPARE(combo->count(), 8);
        QCOMPARE(combo->currentText(), QStringLiteral("250000"));
    }

    void timerTicksEveryTenthOfASecond() {
        QVERIFY(form_->Timer1->isActive());
        QCOMPARE(form_->Timer1->interval(), 100);
    }

    void noButtonIsTheDefault() {
        for (QPushButton* button :
             {form_->Button1, form_->Button2, form_->Button3, form_->Button4}) {
            QVERIFY(!button->isDefault());
            QVERIFY(!button->autoDefault());
        }
    }

    void statusLabelIsOpaqueAndFitsItsText() {
        AutoSizeLabel* status = form_->Label6;
        QCOMPARE(status->colour(), ButtonFaceColour());
        QCOMPARE(status->palette().color(QPalette::WindowText),
                 QApplication::palette().color(QPalette::WindowText));

        const QPoint left = status->pos();
        status->setCaption(QStringLiteral("OK"));
        status->setColour(kColourGreen);
        const int okWidth = status->width();
        QCOMPARE(status->size(), status->sizeHint());
        QCOMPARE(status->grab().toImage().pixelColor(1, 1), QColor(0, 128, 0));

        status->setCaption(QStringLiteral("Error !!!"));
        status->setColour(kColourRed);
        QVERIFY(status->width() > okWidth);
        QCOMPARE(status->pos(), left);
        QCOMPARE(status->grab().toImage().pixelColor(1, 1), QColor(255, 0, 0));

        status->setCaption(QString());
        status->setColour(ButtonFaceColour());
        QVERIFY(status->width() < okWidth);
        QCOMPARE(status->pos(), left);
    }

    void tabVisitsTheFieldsInTheirOrder() {
        QApplication::setActiveWindow(form_.get());
        QVERIFY(QTest::qWaitForWindowActive(form_.get()));
        QCOMPARE(focusedControl(), form_->ListView1);

        const QList<QWidget*> order = {form_->Button1, form_->Edit1,     form_->Edit3,
                                       form_->Edit4,   form_->ComboBox1, form_->Edit2,
                                       form_->Button2, form_->Button3,   form_->Edit5,
                                       form_->Button4, form_->ListView1};
        for (QWidget* next : order) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(focusedControl(), next);
        }
        // And backwards across the out-of-place subnet mask field.
        form_->Button2->setFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
        QCOMPARE(focusedControl(), form_->Edit2);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
        QCOMPARE(focusedControl(), form_->ComboBox1);
    }

    void widerWindowMovesControlsByTheirCentres() {
        const int version = versionWidth();
        resizeClient(1019, 635);
        QCOMPARE(form_->Button1->geometry(), QRect(83, 414, 580, 36));
        QCOMPARE(form_->GroupBox1->geometry(), QRect(83, 454, 580, 84));
        QCOMPARE(form_->Button2->geometry(), QRect(28, 550, 180, 36));
        QCOMPARE(form_->Button3->geometry(), QRect(278, 550, 180, 36));
        QCOMPARE(form_->GroupBox2->geometry(), QRect(788, 423, 185, 177));
        QCOMPARE(form_->ListView1->geometry(), QRect(0, 0, 1013, 410));
        QTRY_COMPARE(versionWidth(), version + 200);
        QCOMPARE(form_->ListView1->header()->sectionSize(0), 150);
        QCOMPARE(form_->ListView1->header()->sectionSize(5), 85);
    }

    void tallerWindowMovesTheBottomControlsDown() {
        resizeClient(819, 735);
        for (const char* name : kBottomAnchored) {
            const DesignedControl* designed = nullptr;
            for (const DesignedControl& candidate : kControls) {
                if (qstrcmp(candidate.name, name) == 0) {
                    designed = &candidate;
                }
            }
            QCOMPARE(control(name)->geometry(), designed->geometry.translated(0, 100));
        }
        QCOMPARE(form_->ListView1->geometry(), QRect(0, 0, 813, 510));
    }

    void controlsInsideTheGroupsNeverMove() {
        const QRect edit5 = form_->Edit5->geometry();
        const QRect edit2 = form_->Edit2->geometry();
        resizeClient(1400, 900);
        QCOMPARE(form_->Edit5->geometry(), edit5);
        QCOMPARE(form_->Edit2->geometry(), edit2);
        QCOMPARE(form_->GroupBox1->size(), QSize(580, 84));
        QCOMPARE(form_->GroupBox2->size(), QSize(185, 177));
    }

    void tinyWindowShowsNoScrollBarsAndRecovers() {
        resizeClient(400, 150);
        // Nothing scrolls the window: it has no scroll area and no scroll bar
        // of its own (the list's bars belong to the list).
        QVERIFY(form_->findChild<QScrollArea*>() == nullptr);
        for (QScrollBar* bar : form_->findChildren<QScrollBar*>()) {
            QVERIFY(!bar->isVisible() || form_->ListView1->isAncestorOf(bar));
        }
        // The list collapses; the controls run off the top, as placed by the rule.
        QCOMPARE(form_->ListView1->geometry(), QRect(0, 0, 394, 0));
        QCOMPARE(form_->Button1->pos(), QPoint(147 - 290, 414 - 485));
        QCOMPARE(form_->GroupBox2->pos(), QPoint(345 - 92, 423 - 485));

        // Many odd sizes later, the design size gives the design layout back
        // to the pixel.
        for (const QSize size : {QSize(1, 1), QSize(833, 641), QSize(1777, 999), QSize(820, 636)}) {
            resizeClient(size.width(), size.height());
        }
        resizeClient(819, 635);
        for (const DesignedControl& designed : kControls) {
            if (qobject_cast<QLabel*>(control(designed.name)) == nullptr) {
                QCOMPARE(control(designed.name)->geometry(), designed.geometry);
            }
        }
    }

    void iconComesInItsNineSizes() {
        const QIcon icon = form_->windowIcon();
        QCOMPARE(icon.availableSizes().size(), static_cast<int>(kMainIconSizes.size()));
        for (const int size : kMainIconSizes) {
            QVERIFY(icon.availableSizes().contains(QSize(size, size)));
            const QImage image = icon.pixmap(QSize(size, size)).toImage();
            QCOMPARE(image.size(), QSize(size, size));
            QVERIFY(image.hasAlphaChannel());
            QCOMPARE(image.depth(), 32);
            // Transparent corners, opaque centre: a drawn icon, not a blank.
            QCOMPARE(image.pixelColor(0, 0).alpha(), 0);
            QCOMPARE(image.pixelColor(size / 2, size / 2).alpha(), 255);
        }
    }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
