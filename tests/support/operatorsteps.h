#pragma once

// Steps an operator takes on the main window of a running program, through
// the widgets, in the order the windows ask for them.

#include "support/widgets.h"

#include "app/mainwindow.h"
#include "control/widgetfeedbackcontrol.h"
#include "control/windowpidparams.h"

#include <QAction>
#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QToolBox>

#include <initializer_list>
#include <utility>
#include <vector>

// The PID window's loops as an administrator sets them and confirms with
// OK: per loop panel ("posXwidget", "posYwidget", "intI0widget") Kp, Ki,
// Kd, emin, Imax, Omin, Omax and the output gain, at 1000 Hz.
inline void setLoops(MainWindow& window,
                     const std::vector<std::pair<const char*, std::vector<double>>>& loops)
{
    child<QAction>(&window, "action_PID_Parameters")->trigger();
    auto* pid = window.findChild<WindowPIDparams*>();
    const char* boxes[] = {"boxKp",   "boxKi",   "boxKd",   "boxemin",
                           "boxImax", "boxOmin", "boxOmax", "boxOgain"};
    for (const auto& loop : loops) {
        auto* panel = child<QWidget>(pid, loop.first);
        child<QDoubleSpinBox>(panel, "curFreqBox")->setValue(1000.0);
        for (int k = 0; k < 8; ++k)
            child<QDoubleSpinBox>(panel, boxes[k])->setValue(loop.second[std::size_t(k)]);
    }
    QTest::mouseClick(standardButton(pid, QDialogButtonBox::Ok), Qt::LeftButton);
}

// The loops whose boxes are named ("confXcheckbox", "confYcheckbox",
// "confI0checkbox") chosen on the feedback panel's configuration page and
// sent to the controller. Returns the panel, for its "buttonFdbk".
inline QWidget* chooseLoops(MainWindow& window, std::initializer_list<const char*> boxes)
{
    QWidget* panel = window.findChild<WidgetFeedbackControl*>();
    child<QToolBox>(panel, "toolBox")->setCurrentIndex(1);
    for (const char* box : boxes)
        child<QCheckBox>(panel, box)->setChecked(true);
    click(panel, "updateConfButton");
    return panel;
}
