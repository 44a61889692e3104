#include "app/DeviceListView.h"

#include <QComboBox>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QList>
#include <QPushButton>
#include <QString>
#include <QStringList>
#include <QTreeWidget>

#include <algorithm>
#include <string>

#include "app/MessageBox.h"
#include "app/ScopedDisable.h"
#include "app/Unit1.h"
#include "discovery/DeviceListRows.h"
#include "discovery/DeviceTable.h"
#include "discovery/DiscoverDevices.h"
#include "discovery/SortDeviceTable.h"

namespace {

// The caption is column 0; sub-item k stands in column k + 1.
constexpr int kCaptionColumn = 0;
constexpr int kFirstSubItemColumn = 1;

int SubItemColumn(size_t subItem) {
    return kFirstSubItemColumn + static_cast<int>(subItem);
}

QTreeWidgetItem* MakeRow(const DeviceRowTexts& texts) {
    QStringList columns;
    columns << QString::fromStdString(texts.caption);
    for (const std::string& text : texts.subItems) {
        columns << QString::fromStdString(text);
    }
    return new QTreeWidgetItem(columns);
}

// The rows whose selection a change touched, each once, in list order.
QList<int> SelectionRows(const QItemSelection& selection) {
    QList<int> rows;
    for (const QModelIndex& index : selection.indexes()) {
        if (index.column() == kCaptionColumn && !rows.contains(index.row())) {
            rows << index.row();
        }
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}

}  // namespace

void ClearNewSettings(TForm1& form) {
    form.Edit1->clear();
    form.Edit2->clear();
    form.Edit3->clear();
    form.Edit4->clear();
    // An emptied baud rate must not leave a code chosen behind the empty
    // text: the setup reads the item index.
    form.ComboBox1->setCurrentIndex(-1);
    form.ComboBox1->clearEditText();
}

void RunSearchCommand(TForm1& form) {
    const ScopedDisable searching(form.Button1);
    form.ListView1->clear();
    ClearNewSettings(form);
    ResetDeviceTable(DeviceTable);

    const int result = DiscoverDevices(DeviceTable, kDeviceTableSize, kSearchFirstWaitSeconds);
    // A search that ran out of table space still lists what it stored.
    if (SearchResultIsListed(result, DeviceTable)) {
        SortDeviceTable(form.SortOrder);
        form.ShowDeviceList();
    } else {
        ShowMessageBox(QLatin1String(kNoDeviceFoundText), QString(), MessageBoxStyle::Ok);
    }
}

void RebuildDeviceList(TForm1& form) {
    form.ListView1->clear();
    ClearNewSettings(form);

    DeviceRecordView records[kMaxDeviceRecords];
    const size_t count =
        ListDeviceRecords(DeviceTable, kDeviceTableSize, records, kMaxDeviceRecords);
    QList<QTreeWidgetItem*> rows;
    rows.reserve(static_cast<qsizetype>(count));
    for (size_t i = 0; i < count; ++i) {
        rows << MakeRow(MakeDeviceRowTexts(records[i]));
    }
    form.ListView1->addTopLevelItems(rows);

    if (rows.size() == 1) {
        // Through the selection model, so the list's selection event fills
        // the inputs exactly as an operator's click would.
        form.ListView1->setCurrentItem(rows.front());
    }

    const std::string warning = BuildMacWarningText(DeviceTable, kDeviceTableSize);
    if (!warning.empty()) {
        ShowMessageBox(QString::fromStdString(warning), QLatin1String(kMacWarningTitle),
                       MessageBoxStyle::IconError);
    }
}

void SelectDeviceListItem(TForm1& form, QTreeWidgetItem* item, bool selected) {
    // A deselection is checked first: the row may be on its way out of the
    // list.
    if (!selected || DeviceTableCount(DeviceTable) == 0 || item == nullptr ||
        form.ListView1->indexOfTopLevelItem(item) < 0) {
        return;
    }
    form.Edit1->setText(item->text(SubItemColumn(kSubItemIp)));
    form.Edit2->setText(item->text(SubItemColumn(kSubItemSubmask)));
    form.Edit3->setText(item->text(SubItemColumn(kSubItemGateway)));
    form.Edit4->setText(item->text(SubItemColumn(kSubItemPort)));

    const QString baudRate = item->text(SubItemColumn(kSubItemBaudRate));
    for (int i = 0; i < form.ComboBox1->count(); ++i) {
        if (form.ComboBox1->itemText(i) == baudRate) {
            form.ComboBox1->setEditText(baudRate);
            form.ComboBox1->setCurrentIndex(i);
            return;
        }
    }
}

void ClickDeviceListColumn(TForm1& form, int column) {
    uint8_t next = 0;
    if (!SortOrderAfterColumnClick(form.SortOrder, column, &next)) {
        return;
    }
    form.SortOrder = next;
    form.ListView1->clear();
    ClearNewSettings(form);
    SortDeviceTable(form.SortOrder);
    form.ShowDeviceList();
}

void ConnectSelectItem(QTreeWidget* list,
                       const std::function<void(QTreeWidgetItem*, bool)>& selectItem) {
    QObject::connect(list->selectionModel(), &QItemSelectionModel::selectionChanged, list,
                     [list, selectItem](const QItemSelection& gained, const QItemSelection& lost) {
                         for (const int row : SelectionRows(lost)) {
                             selectItem(list->topLevelItem(row), false);
                         }
                         for (const int row : SelectionRows(gained)) {
                             selectItem(list->topLevelItem(row), true);
                         }
                     });
}
