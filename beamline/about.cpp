#include "beamline/about.h"
#include "ui_about.h"

#include "device/globals.h"
#include "device/version.h"

#include <QStyle>

namespace
{
const QString kMakerText =
    QStringLiteral("Made by Quorvex<br>"
                   "<a href=\"https://www.quorvex.com\">www.quorvex.com</a><br>"
                   "<a href=\"mailto:support@quorvex.com\">support@quorvex.com</a>");
} // namespace

about::about(QWidget* parent) : QDialog(parent), ui(new Ui::about)
{
    ui->setupUi(this);
    setWindowIcon(style()->standardIcon(QStyle::SP_MessageBoxInformation));

    ui->label_2->setText(QStringLiteral("Quorvex ZEVO Local User Interface<br>") +
                         QStringLiteral("v") + zevo::programVersion() + QStringLiteral(" build ") +
                         QString::number(zevo::kProgramBuild));

    // Rich text whose links open in the desktop's browser or mail program
    // (set in the form).
    ui->label_3->setText(kMakerText);

    // As read once at start-up; nothing is asked of the controller here.
    ui->curVerTSLineEdit->setText(controllerVersions.hwTimestamp);
    ui->curVerSWLineEdit->setText(controllerVersions.swVersion);
    ui->curPIDverLineEdit->setText(controllerVersions.pidVersion);
}

about::~about() = default;
