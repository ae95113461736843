#include "beamline/widgetpico.h"
#include "ui_widgetpico.h"

#include "device/globals.h"
#include "device/mailboxcomm.h"

#include <QStringList>

namespace
{
const QStringList kRangeTexts = {QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("AUTO")};

// The item-flags role of a combo box's standard model (one below the first
// user role): flags 0 leave an item listed but neither enabled nor
// selectable.
constexpr int kItemFlagsRole = Qt::UserRole - 1;
} // namespace

WidgetPico::WidgetPico(QWidget* parent) : QWidget(parent), ui(new Ui::WidgetPico)
{
    ui->setupUi(this);
    connect(ui->saveButton, &QPushButton::released, this, &WidgetPico::sendSettings);
    setCurrents(0, 0, 0, 0);
    // The controller has no automatic range yet: listed, not selectable.
    ui->rangeBox->setItemData(RangeAuto, 0, kItemFlagsRole);
}

WidgetPico::~WidgetPico() = default;

void WidgetPico::setCurrents(double ch1, double ch2, double ch3, double ch4)
{
    ui->currentCh1Line->setText(QString::number(ch1, 'e', 5));
    ui->currentCh2Line->setText(QString::number(ch2, 'e', 5));
    ui->currentCh3Line->setText(QString::number(ch3, 'e', 5));
    ui->currentCh4Line->setText(QString::number(ch4, 'e', 5));
}

void WidgetPico::sendSettings()
{
    const int rangeIndex = kRangeTexts.indexOf(ui->rangeBox->currentText());
    // Only the selectable ranges go out. "AUTO" can only be made current
    // from code, and a text outside the list would go out as range 255.
    if (rangeIndex != Range0 && rangeIndex != Range1)
        return;
    if (theMailbox)
        theMailbox->setPicoRange(rangeIndex, picoIndex);
}
