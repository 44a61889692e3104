#pragma once

// The window side of the Search command and of the device list: what the
// handlers of TForm1 (Button1Click, ListView1SelectItem, ListView1ColumnClick)
// and TForm1::ShowDeviceList do with the controls and the DeviceTable.

#include <functional>

class TForm1;
class QTreeWidget;
class QTreeWidgetItem;

// The message of a search that lists nothing.
constexpr char kNoDeviceFoundText[] = "Can't find any Device !!!";
// The title of the box naming devices whose MAC ends in FF.FF.FF.
constexpr char kMacWarningTitle[] = "Error";

// Search: empties the list and the inputs, broadcasts one discovery request,
// and lists what answered, sorted by the window's SortOrder; when nothing can
// be listed, says so. Button1 stays disabled until it returns.
void RunSearchCommand(TForm1& form);

// Rebuilds the list from the DeviceTable, in table order. A lone device's row
// is selected, which fills the inputs from it; devices whose MAC ends in
// FF.FF.FF are named in one box afterwards.
void RebuildDeviceList(TForm1& form);

// A row's selection changed: a newly selected row copies its IP, mask,
// gateway, port and baud rate into the inputs. A deselection changes nothing.
void SelectDeviceListItem(TForm1& form, QTreeWidgetItem* item, bool selected);

// A header click: "MAC ID" and "IP" change SortOrder, re-sort the table and
// rebuild the list; every other column does nothing.
void ClickDeviceListColumn(TForm1& form, int column);

// Empties Edit1, Edit2, Edit3, Edit4 and ComboBox1, in this order; the combo
// box is left with no item chosen.
void ClearNewSettings(TForm1& form);

// Reports every selection change of `list` to `selectItem` as one call per
// row, the way the list's selection event does: rows that lost the selection
// first, then the row that gained it. Programmatic changes count as well.
void ConnectSelectItem(QTreeWidget* list,
                       const std::function<void(QTreeWidgetItem*, bool)>& selectItem);
