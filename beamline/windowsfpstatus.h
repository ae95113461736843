#pragma once

#include "device/protocol.h"

#include <QDialog>

#include <array>
#include <memory>

namespace Ui
{
class WindowSFPstatus;
}

class QDomElement;
class QTimer;

// "SFP Info": what sits in the controller's four SFP slots. For each occupied
// slot the table shows the device's picture and name from the device
// catalogue embedded in the program, and the serial number, firmware version
// and hardware version from the slot record the mailbox poll last read.
// Created once by the main window and kept; refreshes itself every 1100 ms
// while it is shown.
class WindowSFPstatus : public QDialog
{
    Q_OBJECT

public:
    static constexpr int kRefreshMs = 1100;
    static constexpr int kPictureSize = 100;

    // Table rows.
    enum Row { RowImage = 0, RowName, RowSerial, RowFirmware, RowHardware, RowCount };

    explicit WindowSFPstatus(QWidget* parent = nullptr);
    ~WindowSFPstatus() override;

    // The catalogue's name of a device id given as four lowercase hex digits
    // ("2101"); empty when the catalogue does not list it.
    static QString deviceName(const QString& key);
    // ":/product_data/" followed by the catalogue's picture file of the id;
    // without a file name when the catalogue does not list it.
    static QString deviceImagePath(const QString& key);
    // Text of child `index` (0 id, 1 group, 2 name, 3 image, 4 desc) of the
    // entry of `key` in a catalogue document; empty when the document does
    // not parse or has no such entry or child.
    static QString catalogueField(const QByteArray& catalogue, const QString& key, int index);

    // The firmware version as the operator reads it: the four characters
    // from the last to the first, joined by "." ('2','0','0','1' reads
    // 1.0.0.2).
    static QString firmwareText(const zevo::SlotRecord& record);

protected:
    void showEvent(QShowEvent* event) override;

private slots:
    void updateSFPdata();

private:
    void fillTable(const std::array<zevo::SlotRecord, zevo::kSlotCount>& records);
    static QDomElement findDeviceElement(const QDomElement& element, const QString& key);
    // Text of child `index` of the catalogue entry of `key`.
    static QString catalogueField(const QString& key, int index);

    std::unique_ptr<Ui::WindowSFPstatus> ui;
    QTimer* m_timer;
};
