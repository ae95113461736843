#include "beamline/windowsfpstatus.h"
#include "ui_windowsfpstatus.h"

#include "device/globals.h"
#include "device/mailboxcomm.h"

#include <QApplication>
#include <QDomDocument>
#include <QDomElement>
#include <QFile>
#include <QHeaderView>
#include <QPainter>
#include <QPixmap>
#include <QStyledItemDelegate>
#include <QTimer>

namespace
{
const QString kCatalogue = QStringLiteral(":/product_data/devices.xml");
const QString kPictureFolder = QStringLiteral(":/product_data/");

// Children of a catalogue entry, by position: id, group, name, image, desc.
constexpr int kNameField = 2;
constexpr int kImageField = 3;

// Draws a cell's picture in the middle of the cell; a plain item view puts
// it at the left edge.
class CentredPictureDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override
    {
        QStyleOptionViewItem cell = option;
        initStyleOption(&cell, index);
        const QPixmap picture = index.data(Qt::DecorationRole).value<QPixmap>();
        cell.features &= ~QStyleOptionViewItem::HasDecoration;
        cell.icon = QIcon();
        QStyle* style = cell.widget ? cell.widget->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &cell, painter, cell.widget);
        if (!picture.isNull())
            painter->drawPixmap(
                QStyle::alignedRect(cell.direction, Qt::AlignCenter, picture.size(), cell.rect),
                picture);
    }
};

QTableWidgetItem* centredItem(const QString& text)
{
    auto* item = new QTableWidgetItem(text);
    item->setTextAlignment(Qt::AlignCenter);
    return item;
}
} // namespace

WindowSFPstatus::WindowSFPstatus(QWidget* parent)
    : QDialog(parent), ui(new Ui::WindowSFPstatus), m_timer(new QTimer(this))
{
    ui->setupUi(this);
    ui->SFPsTable->setItemDelegateForRow(RowImage, new CentredPictureDelegate(ui->SFPsTable));
    connect(ui->buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(ui->buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);

    connect(m_timer, &QTimer::timeout, this, &WindowSFPstatus::updateSFPdata);
    m_timer->start(kRefreshMs);
    updateSFPdata();
}

WindowSFPstatus::~WindowSFPstatus() = default;

// Opening the window fills the table at once instead of at the next tick.
void WindowSFPstatus::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    updateSFPdata();
}

void WindowSFPstatus::updateSFPdata()
{
    QTableWidget* table = ui->SFPsTable;
    table->clearContents();
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    table->verticalHeader()->setSectionResizeMode(RowImage, QHeaderView::Stretch);
    if (theMailbox)
        fillTable(theMailbox->slotRecords());
}

void WindowSFPstatus::fillTable(const std::array<zevo::SlotRecord, zevo::kSlotCount>& records)
{
    // A hidden window only keeps its table empty; the catalogue is not read
    // for nobody.
    if (!isVisible())
        return;
    QTableWidget* table = ui->SFPsTable;
    for (int slot = 0; slot < zevo::kSlotCount; ++slot) {
        const zevo::SlotRecord record = records[std::size_t(slot)];
        if (record.deviceId == 0)
            continue;
        const QString key = QStringLiteral("%1").arg(record.deviceId, 4, 16, QLatin1Char('0'));

        // A device the catalogue does not list, or whose picture is not
        // embedded, keeps an empty picture cell.
        auto* image = new QTableWidgetItem;
        const QPixmap picture(deviceImagePath(key));
        if (!picture.isNull())
            image->setData(Qt::DecorationRole,
                           picture.scaled(kPictureSize, kPictureSize, Qt::KeepAspectRatio,
                                          Qt::SmoothTransformation));
        table->setItem(RowImage, slot, image);
        table->setItem(RowName, slot, centredItem(deviceName(key)));
        table->setItem(RowSerial, slot, centredItem(QString::number(record.serial)));
        table->setItem(RowFirmware, slot, centredItem(firmwareText(record)));
        table->setItem(RowHardware, slot, centredItem(QString::number(record.hwVersion)));
    }
}

QString WindowSFPstatus::firmwareText(const zevo::SlotRecord& record)
{
    QStringList characters;
    for (int i = 3; i >= 0; --i) {
        const unsigned char c = record.fwVersion[i];
        // The controller sends printable characters; anything else (a NUL
        // from a module that reports no version) would cut or garble the
        // cell, so it shows as "?".
        const bool printable = c >= 0x20 && c < 0x7F;
        characters << QString(QLatin1Char(printable ? char(c) : '?'));
    }
    return characters.join(QLatin1Char('.'));
}

QString WindowSFPstatus::deviceName(const QString& key)
{
    return catalogueField(key, kNameField);
}

QString WindowSFPstatus::deviceImagePath(const QString& key)
{
    return kPictureFolder + catalogueField(key, kImageField);
}

// Depth first, in document order: the first element whose text is the key.
// In the catalogue that is the id element of the device.
QDomElement WindowSFPstatus::findDeviceElement(const QDomElement& element, const QString& key)
{
    for (QDomElement child = element.firstChildElement(); !child.isNull();
         child = child.nextSiblingElement()) {
        if (child.text() == key)
            return child;
        const QDomElement inner = findDeviceElement(child, key);
        if (!inner.isNull())
            return inner;
    }
    return QDomElement();
}

// The catalogue is read afresh on each lookup; it is small, and a lookup
// runs only for occupied slots while the window is shown.
QString WindowSFPstatus::catalogueField(const QString& key, int index)
{
    QFile file(kCatalogue);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return catalogueField(file.readAll(), key, index);
}

QString WindowSFPstatus::catalogueField(const QByteArray& catalogue, const QString& key, int index)
{
    QDomDocument document;
    if (!document.setContent(catalogue)) // whitespace-only text is dropped
        return QString();
    // The list of devices; taken as the document element so that an XML
    // declaration in front of it would not hide the catalogue.
    const QDomElement root = document.documentElement();
    const QDomElement hit = findDeviceElement(root, key);
    // QDomNodeList::item() checks only the upper end of the index.
    if (hit.isNull() || index < 0)
        return QString();
    return hit.parentNode().childNodes().item(index).firstChild().nodeValue();
}
