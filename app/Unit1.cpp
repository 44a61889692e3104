#include "app/Unit1.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFont>
#include <QGroupBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QResizeEvent>
#include <QStringList>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>
#include <cstdint>

#include "app/DeviceListView.h"
#include "app/MainIcon.h"
#include "app/SetIdPanel.h"
#include "app/SetupCommand.h"
#include "app/StandardErrorBox.h"
#include "common/BaudRate.h"
#include "setup/SendSetupRequest.h"

namespace {

const char* const kCaption = "Velquint Tool  V1.06";

// The size the window was drawn at. Every position below is in these
// pixels, and the resize rule scales centres by the ratio of the present
// client width to kDesignClientWidth.
constexpr int kDesignClientWidth = 819;
constexpr int kDesignClientHeight = 635;
constexpr QPoint kDesignPosition{414, 119};

// The list keeps these distances to the right and bottom edges.
constexpr int kListRightMargin = 6;
constexpr int kListBottomMargin = 225;

constexpr int kTimer1IntervalMs = 100;

struct FontChoice {
    int pixelHeight;
    QFont::Weight weight;
};
constexpr FontChoice kWindowFont{11, QFont::Normal};  // F1: no visible text uses it
constexpr FontChoice kControlFont{13, QFont::Bold};   // F2: list, buttons, the "New" group
constexpr FontChoice kZekGroupFont{16, QFont::Bold};  // F3: "ZEK Only", "ID:", status
constexpr FontChoice kIdEditFont{16, QFont::Normal};  // F4: the ID field

QFont MakeFont(const FontChoice& choice) {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(choice.pixelHeight);
    font.setWeight(choice.weight);
    return font;
}

struct ListColumn {
    const char* caption;
    int width;
};
// "Version" is last and takes whatever width the list has left.
constexpr std::array<ListColumn, 7> kListColumns = {{{"MAC ID", 150},
                                                     {"IP", 130},
                                                     {"Submask", 130},
                                                     {"Gateway", 130},
                                                     {"Port", 80},
                                                     {"BaudRate", 85},
                                                     {"Version", 0}}};

template <typename Control>
Control* MakeControl(QWidget* parent, const char* name, const QRect& geometry,
                     const FontChoice& font) {
    auto* control = new Control(parent);
    control->setObjectName(QLatin1String(name));
    control->setGeometry(geometry);
    control->setFont(MakeFont(font));
    return control;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const char* caption,
                        const QRect& geometry) {
    auto* button = MakeControl<QPushButton>(parent, name, geometry, kControlFont);
    button->setText(QLatin1String(caption));
    // Enter must not click anything: no button is the default.
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

AutoSizeLabel* MakeLabel(QWidget* parent, const char* name, const char* caption, QPoint position,
                         const FontChoice& font) {
    auto* label = new AutoSizeLabel(QLatin1String(caption), parent);
    label->setObjectName(QLatin1String(name));
    label->setFont(MakeFont(font));
    label->move(position);
    return label;
}

// Where a bottom-anchored control's left edge goes: its design centre scaled
// by the client width, rounded to the nearest pixel, less half its width.
int CentredLeft(const QRect& design, int clientWidth) {
    const int64_t centre = design.left() + design.width() / 2;
    const int64_t scaled =
        (2 * centre * clientWidth + kDesignClientWidth) / (2 * int64_t{kDesignClientWidth});
    return static_cast<int>(scaled) - design.width() / 2;
}

}  // namespace

TForm1::TForm1(QWidget* owner) : QWidget(owner) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QLatin1String(kCaption));
    setWindowIcon(MainIcon());
    setFont(MakeFont(kWindowFont));
    setBackgroundRole(QPalette::Button);
    setAutoFillBackground(true);

    // Creation order is the order of the keyboard chain before SetTabOrder
    // puts it right; the list comes first so that it has the focus at start.
    BuildListView();
    Button1 = MakeButton(this, "Button1", "Search", QRect(10, 414, 580, 36));
    BuildNewGroup();
    Button2 = MakeButton(this, "Button2", "Broadcast Setup", QRect(5, 550, 180, 36));
    Button3 = MakeButton(this, "Button3", "Connect Setup", QRect(206, 550, 180, 36));
    BuildZekGroup();

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(kTimer1IntervalMs);
    Timer1->start();

    bottomAnchored_ = {{{Button1, Button1->geometry()},
                        {GroupBox1, GroupBox1->geometry()},
                        {Button2, Button2->geometry()},
                        {Button3, Button3->geometry()},
                        {GroupBox2, GroupBox2->geometry()}}};

    SetTabOrder();
    ListView1->setFocus();
    WireSearchAndList();

    WireSetup();

    resize(kDesignClientWidth, kDesignClientHeight);
    move(kDesignPosition);
    PlaceControls(kDesignClientWidth, kDesignClientHeight);

    WireSetId();
}

void TForm1::BuildListView() {
    ListView1 = MakeControl<QTreeWidget>(
        this, "ListView1",
        QRect(0, 0, kDesignClientWidth - kListRightMargin, kDesignClientHeight - kListBottomMargin),
        kControlFont);
    QStringList captions;
    for (const ListColumn& column : kListColumns) {
        captions << QLatin1String(column.caption);
    }
    ListView1->setColumnCount(static_cast<int>(kListColumns.size()));
    ListView1->setHeaderLabels(captions);
    for (std::size_t i = 0; i + 1 < kListColumns.size(); ++i) {
        ListView1->setColumnWidth(static_cast<int>(i), kListColumns[i].width);
    }
    // Rows stay in the order they were added; sorting is the table's job.
    // (Switching sorting off also makes the headers unclickable, so it goes
    // first.)
    ListView1->setSortingEnabled(false);
    ListView1->header()->setSortIndicatorShown(false);
    ListView1->header()->setSectionsClickable(true);
    ListView1->header()->setSectionsMovable(false);
    ListView1->header()->setStretchLastSection(true);

    // A flat report list: no tree decoration, whole rows, one at a time,
    // nothing editable.
    ListView1->setRootIsDecorated(false);
    ListView1->setItemsExpandable(false);
    ListView1->setExpandsOnDoubleClick(false);
    ListView1->setUniformRowHeights(true);
    ListView1->setAllColumnsShowFocus(true);
    ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView1->setSelectionMode(QAbstractItemView::SingleSelection);
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);

    // The selected row must stay visible when the list loses the focus, so
    // the inactive highlight is the active one.
    QPalette listPalette = ListView1->palette();
    for (const QPalette::ColorRole role : {QPalette::Highlight, QPalette::HighlightedText}) {
        listPalette.setColor(QPalette::Inactive, role, listPalette.color(QPalette::Active, role));
    }
    ListView1->setPalette(listPalette);
}

void TForm1::BuildNewGroup() {
    GroupBox1 = MakeControl<QGroupBox>(this, "GroupBox1", QRect(10, 454, 580, 84), kControlFont);
    GroupBox1->setTitle(QStringLiteral("New"));

    Label1 = MakeLabel(GroupBox1, "Label1", "IP", {16, 24}, kControlFont);
    Label2 = MakeLabel(GroupBox1, "Label2", "Submask", {152, 24}, kControlFont);
    Label3 = MakeLabel(GroupBox1, "Label3", "Gateway", {280, 24}, kControlFont);
    Label4 = MakeLabel(GroupBox1, "Label4", "Port", {408, 24}, kControlFont);
    Label5 = MakeLabel(GroupBox1, "Label5", "BaudRate", {480, 24}, kControlFont);

    Edit1 = MakeControl<QLineEdit>(GroupBox1, "Edit1", QRect(16, 40, 121, 24), kControlFont);
    Edit3 = MakeControl<QLineEdit>(GroupBox1, "Edit3", QRect(280, 40, 121, 24), kControlFont);
    Edit4 = MakeControl<QLineEdit>(GroupBox1, "Edit4", QRect(408, 40, 57, 24), kControlFont);

    ComboBox1 =
        MakeControl<QComboBox>(GroupBox1, "ComboBox1", QRect(480, 40, 73, 24), kControlFont);
    ComboBox1->setEditable(true);
    // In the order of the codes, so that an item's index is its code.
    for (const uint32_t rate : kBaudRates) {
        ComboBox1->addItem(QString::number(rate));
    }
    // The items are the baud-rate codes: what the operator types must never
    // become a ninth item.
    ComboBox1->setInsertPolicy(QComboBox::NoInsert);
    ComboBox1->setCurrentIndex(-1);
    ComboBox1->clearEditText();

    Edit2 = MakeControl<QLineEdit>(GroupBox1, "Edit2", QRect(152, 40, 121, 24), kControlFont);
}

void TForm1::BuildZekGroup() {
    GroupBox2 = MakeControl<QGroupBox>(this, "GroupBox2", QRect(615, 423, 185, 177), kZekGroupFont);
    GroupBox2->setTitle(QStringLiteral("ZEK Only"));

    Label7 = MakeLabel(GroupBox2, "Label7", "ID:", {28, 33}, kZekGroupFont);
    Edit5 = MakeControl<QLineEdit>(GroupBox2, "Edit5", QRect(62, 29, 67, 28), kIdEditFont);
    Edit5->setText(QStringLiteral("0"));
    Button4 = MakeButton(GroupBox2, "Button4", "Set ID", QRect(29, 70, 124, 35));

    Label6 = MakeLabel(GroupBox2, "Label6", "status", {62, 133}, kZekGroupFont);
    Label6->setColour(ButtonFaceColour());
}

void TForm1::SetTabOrder() {
    // The subnet mask comes after the baud rate although it stands second on
    // screen.
    const std::array<QWidget*, 11> order = {ListView1, Button1, Edit1,   Edit3, Edit4,  ComboBox1,
                                            Edit2,     Button2, Button3, Edit5, Button4};
    for (std::size_t i = 0; i + 1 < order.size(); ++i) {
        QWidget::setTabOrder(order[i], order[i + 1]);
    }
}

void TForm1::PlaceControls(int clientWidth, int clientHeight) {
    ListView1->setGeometry(0, 0, std::max(0, clientWidth - kListRightMargin),
                           std::max(0, clientHeight - kListBottomMargin));
    // Always computed from the design geometry, never from the present one,
    // so that no rounding accumulates over many resizes.
    const int heightChange = clientHeight - kDesignClientHeight;
    for (const BottomAnchored& anchored : bottomAnchored_) {
        anchored.control->move(CentredLeft(anchored.design, clientWidth),
                               anchored.design.top() + heightChange);
    }
}

void TForm1::WireSearchAndList() {
    connect(Button1, &QPushButton::clicked, this, &TForm1::Button1Click);
    connect(ListView1->header(), &QHeaderView::sectionClicked, this, &TForm1::ListView1ColumnClick);
    ConnectSelectItem(ListView1, [this](QTreeWidgetItem* item, bool selected) {
        ListView1SelectItem(item, selected);
    });
}

void TForm1::Button1Click() {
    RunGuarded([this] { RunSearchCommand(*this); });
}

void TForm1::ShowDeviceList() {
    RunGuarded([this] { RebuildDeviceList(*this); });
}

void TForm1::ListView1SelectItem(QTreeWidgetItem* item, bool selected) {
    RunGuarded([this, item, selected] { SelectDeviceListItem(*this, item, selected); });
}

void TForm1::ListView1ColumnClick(int column) {
    RunGuarded([this, column] { ClickDeviceListColumn(*this, column); });
}

void TForm1::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    PlaceControls(event->size().width(), event->size().height());
}

// --- "Broadcast Setup" and "Connect Setup" ---

void TForm1::WireSetup() {
    SetupExchange = [](const SetupRequest& request) { return SendSetupRequest(request); };
    connect(Button2, &QPushButton::clicked, this, &TForm1::Button2Click);
    connect(Button3, &QPushButton::clicked, this, &TForm1::Button3Click);
}

void TForm1::Button2Click() {
    RunGuarded([this] { SetupButtonClick(*this, Button2, true); });
}

void TForm1::Button3Click() {
    RunGuarded([this] { SetupButtonClick(*this, Button3, false); });
}

// --- Set ID ---

void TForm1::WireSetId() {
    connect(Button4, &QPushButton::clicked, this, &TForm1::Button4Click);
    connect(Timer1, &QTimer::timeout, this, &TForm1::Timer1Timer);
    Channel.Events = &ChannelWait;
}

void TForm1::Button4Click() {
    RunGuarded([this] { SetDeviceId(*this); });
}

void TForm1::Timer1Timer() {
    RunGuarded([this] { CountStatusDown(*this); });
}

void TForm1::closeEvent(QCloseEvent* event) {
    ChannelWait.Abandon();
    QWidget::closeEvent(event);
}
