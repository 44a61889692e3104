#pragma once

// What the window tests of the device list do and read the way an operator
// would: click a header or a row, read the rows and the "New" inputs.

#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QStringList>
#include <QTreeWidget>
#include <QtTest>

#include "app/Unit1.h"

namespace device_list_driver {

enum Column { kMacColumn = 0, kIpColumn = 1, kSubmaskColumn = 2, kVersionColumn = 6 };

inline void ClickHeader(TForm1& form, int column) {
    QHeaderView* header = form.ListView1->header();
    const QPoint centre(header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
                        header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier, centre);
}

inline void ClickRow(TForm1& form, int row, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QTreeWidgetItem* item = form.ListView1->topLevelItem(row);
    QVERIFY(item != nullptr);
    QTest::mouseClick(form.ListView1->viewport(), Qt::LeftButton, modifiers,
                      form.ListView1->visualItemRect(item).center());
}

// The "MAC ID" column of every row, top to bottom.
inline QStringList Captions(const TForm1& form) {
    QStringList captions;
    for (int i = 0; i < form.ListView1->topLevelItemCount(); ++i) {
        captions << form.ListView1->topLevelItem(i)->text(0);
    }
    return captions;
}

// The selected rows' indexes.
inline QList<int> SelectedRows(const TForm1& form) {
    QList<int> rows;
    for (QTreeWidgetItem* item : form.ListView1->selectedItems()) {
        rows << form.ListView1->indexOfTopLevelItem(item);
    }
    return rows;
}

// Edit1, Edit2, Edit3, Edit4, the combo box's text and its item index.
struct NewSettings {
    QString ip, mask, gateway, port, baudRate;
    int baudIndex;

    bool operator==(const NewSettings& other) const {
        return ip == other.ip && mask == other.mask && gateway == other.gateway &&
               port == other.port && baudRate == other.baudRate && baudIndex == other.baudIndex;
    }
};

inline NewSettings ReadNewSettings(const TForm1& form) {
    return {form.Edit1->text(),
            form.Edit2->text(),
            form.Edit3->text(),
            form.Edit4->text(),
            form.ComboBox1->currentText(),
            form.ComboBox1->currentIndex()};
}

inline const NewSettings kEmptySettings{{}, {}, {}, {}, {}, -1};
// Settings the tests type into the fields.
inline const NewSettings kTyped{QStringLiteral("10.0.0.7"), QStringLiteral("255.0.0.0"),
                                QStringLiteral("10.0.0.1"), QStringLiteral("4001"),
                                QStringLiteral("1200"),     1};

inline void TypeNewSettings(TForm1& form, const NewSettings& settings) {
    form.Edit1->setText(settings.ip);
    form.Edit2->setText(settings.mask);
    form.Edit3->setText(settings.gateway);
    form.Edit4->setText(settings.port);
    form.ComboBox1->setCurrentIndex(settings.baudIndex);
    form.ComboBox1->setEditText(settings.baudRate);
}

}  // namespace device_list_driver

// So that QCOMPARE shows what the inputs held.
namespace QTest {
template <>
inline char* toString(const device_list_driver::NewSettings& settings) {
    return qstrdup(
        QStringLiteral("{%1 | %2 | %3 | %4 | %5 (item %6)}")
            .arg(settings.ip, settings.mask, settings.gateway, settings.port, settings.baudRate)
            .arg(settings.baudIndex)
            .toUtf8()
            .constData());
}
}  // namespace QTest
