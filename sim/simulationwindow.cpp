#include "sim/simulationwindow.h"

#include "sim/scenariooptions.h"
#include "sim/simdriver.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace
{
constexpr int kStatusRefreshMs = 500;

QString statusText(int status)
{
    switch (status) {
    case 0:
        return QStringLiteral("feedback off");
    case 1:
        return QStringLiteral("out of ROC");
    case 2:
        return QStringLiteral("beam off");
    case 3:
        return QStringLiteral("feedback on");
    default:
        return QString::number(status);
    }
}

// The devices a slot can hold, in the order the slot boxes list them.
struct SlotChoice {
    Scenario::Device device;
    const char* text;
};
const SlotChoice kSlotChoices[] = {
    {Scenario::Device::Empty, "empty"},
    {Scenario::Device::Picoammeter, "Dorvish picoammeter"},
    {Scenario::Device::DacModule, "Ostrel DAC module"},
    {Scenario::Device::EncoderInterface, "Pavun encoder interface"},
    {Scenario::Device::PowerSupply, "Kavrel power supply"},
    {Scenario::Device::Unknown, "Unknown device (id 2400)"},
};
} // namespace

SimulationWindow::SimulationWindow(SimDriver& driver, QWidget* parent)
    : QDialog(parent), m_driver(driver)
{
    setObjectName(QStringLiteral("SimulationWindow"));
    setWindowTitle(QStringLiteral("Simulation"));

    auto* beamBox = new QGroupBox(QStringLiteral("Beam"), this);
    auto* beamForm = new QFormLayout(beamBox);
    m_beam = new QCheckBox(QStringLiteral("Beam present"), beamBox);
    m_beam->setObjectName(QStringLiteral("beamPresentCheckBox"));
    m_noise = new QDoubleSpinBox(beamBox);
    m_noise->setObjectName(QStringLiteral("noiseSpinBox"));
    m_noise->setRange(0.0, 10.0);
    m_noise->setSingleStep(0.1);
    m_noise->setDecimals(2);
    m_noise->setToolTip(QStringLiteral("Beam jitter, picoammeter noise, vibration and "
                                       "50 Hz pick-up, relative to a typical beamline"));
    m_drift = new QDoubleSpinBox(beamBox);
    m_drift->setObjectName(QStringLiteral("driftSpinBox"));
    m_drift->setRange(0.0, 10.0);
    m_drift->setSingleStep(0.1);
    m_drift->setDecimals(2);
    m_drift->setToolTip(QStringLiteral("Thermal drift of the optics and top-up decay"));
    m_vibration = new QLineEdit(beamBox);
    m_vibration->setObjectName(QStringLiteral("vibrationLineEdit"));
    m_vibration->setToolTip(
        QStringLiteral("Vibration lines as Hz:µm, comma-separated (37:0.4,12:1): the beam "
                       "moves by that amplitude (peak) at every BPM, times the noise level"));
    m_mains = new QDoubleSpinBox(beamBox);
    m_mains->setObjectName(QStringLiteral("mainsSpinBox"));
    m_mains->setRange(0.0, 1000.0);
    m_mains->setSingleStep(0.01);
    m_mains->setDecimals(3);
    m_mains->setSuffix(QStringLiteral(" µm"));
    m_mains->setToolTip(QStringLiteral("50 Hz pick-up of the BPM electronics (peak, 30 % of it "
                                       "at 150 Hz), times the noise level"));
    // A kick is a step of the beam at both BPMs; the step stays until
    // "Centre" takes it away. Beyond the region of control it trips the
    // feedback, as an orbit jump of the ring would.
    m_kickX = new QDoubleSpinBox(beamBox);
    m_kickX->setObjectName(QStringLiteral("kickXSpinBox"));
    m_kickY = new QDoubleSpinBox(beamBox);
    m_kickY->setObjectName(QStringLiteral("kickYSpinBox"));
    for (QDoubleSpinBox* box : {m_kickX, m_kickY}) {
        box->setRange(-10000.0, 10000.0);
        box->setDecimals(1);
        box->setSuffix(QStringLiteral(" µm"));
    }
    m_kickX->setValue(500.0);
    auto* kick = new QPushButton(QStringLiteral("Kick"), beamBox);
    kick->setObjectName(QStringLiteral("kickButton"));
    kick->setToolTip(QStringLiteral("Moves the beam at every BPM by the step in X and Y"));
    auto* centre = new QPushButton(QStringLiteral("Centre"), beamBox);
    centre->setObjectName(QStringLiteral("centreButton"));
    centre->setToolTip(QStringLiteral("Takes the kick away"));
    auto* kickRow = new QHBoxLayout;
    kickRow->addWidget(new QLabel(QStringLiteral("X"), beamBox));
    kickRow->addWidget(m_kickX);
    kickRow->addWidget(new QLabel(QStringLiteral("Y"), beamBox));
    kickRow->addWidget(m_kickY);
    kickRow->addWidget(kick);
    kickRow->addWidget(centre);
    connect(kick, &QPushButton::clicked, this,
            [this] { setKick(m_kickX->value(), m_kickY->value()); });
    connect(centre, &QPushButton::clicked, this, [this] { setKick(0.0, 0.0); });

    beamForm->addRow(m_beam);
    beamForm->addRow(QStringLiteral("Kick:"), kickRow);
    beamForm->addRow(QStringLiteral("Noise level:"), m_noise);
    beamForm->addRow(QStringLiteral("Drift level:"), m_drift);
    beamForm->addRow(QStringLiteral("Vibration (Hz:µm):"), m_vibration);
    beamForm->addRow(QStringLiteral("Mains pick-up:"), m_mains);

    auto* hwBox = new QGroupBox(QStringLiteral("Hardware"), this);
    auto* hwLayout = new QVBoxLayout(hwBox);
    auto* slotForm = new QFormLayout;
    for (int slot = 0; slot < zevo::kSlotCount; ++slot) {
        const QChar letter = QLatin1Char(char('A' + slot));
        auto* box = new QComboBox(hwBox);
        box->setObjectName(QStringLiteral("slot%1ComboBox").arg(letter));
        for (const SlotChoice& choice : kSlotChoices)
            box->addItem(QString::fromLatin1(choice.text), int(choice.device));
        slotForm->addRow(QStringLiteral("Slot %1:").arg(letter), box);
        m_slots[std::size_t(slot)] = box;
    }
    m_legacyFirmware =
        new QCheckBox(QStringLiteral("Controller firmware without version commands"), hwBox);
    m_legacyFirmware->setObjectName(QStringLiteral("legacyFirmwareCheckBox"));
    // Broken by hand: a word-wrapped label makes the layout trade the slot
    // boxes' height for its lines.
    auto* note = new QLabel(QStringLiteral("The program sees the slots change at its next poll, "
                                           "within a second.\n"
                                           "It reads the controller versions, and lays its plots "
                                           "out for an\n"
                                           "encoder interface, only when it starts: those "
                                           "changes show fully\n"
                                           "after a restart."),
                            hwBox);
    hwLayout->addLayout(slotForm);
    hwLayout->addWidget(m_legacyFirmware);
    hwLayout->addWidget(note);

    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("statusLabel"));
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(beamBox);
    layout->addWidget(hwBox);
    layout->addWidget(m_status);
    layout->addWidget(buttons);

    connect(m_beam, &QCheckBox::toggled, this, &SimulationWindow::applyControls);
    for (QComboBox* box : m_slots)
        connect(box, qOverload<int>(&QComboBox::currentIndexChanged), this,
                &SimulationWindow::applyControls);
    connect(m_legacyFirmware, &QCheckBox::toggled, this, &SimulationWindow::applyControls);
    connect(m_noise, qOverload<double>(&QDoubleSpinBox::valueChanged), this,
            &SimulationWindow::applyControls);
    connect(m_drift, qOverload<double>(&QDoubleSpinBox::valueChanged), this,
            &SimulationWindow::applyControls);
    connect(m_mains, qOverload<double>(&QDoubleSpinBox::valueChanged), this,
            &SimulationWindow::applyControls);
    connect(m_vibration, &QLineEdit::editingFinished, this, &SimulationWindow::applyControls);

    m_timer = new QTimer(this);
    connect(m_timer, &QTimer::timeout, this, &SimulationWindow::refreshStatus);
    connect(this, &QDialog::finished, m_timer, &QTimer::stop);

    loadControls();
    refreshStatus();
}

SimulationWindow* SimulationWindow::addToMenuBar(QMainWindow& window, SimDriver& driver)
{
    auto* simulation = new SimulationWindow(driver, &window);
    QMenu* menu = window.menuBar()->addMenu(QStringLiteral("Simulation"));
    QAction* action = menu->addAction(QStringLiteral("Virtual Hardware..."));
    action->setObjectName(QStringLiteral("actionSimulation"));
    connect(action, &QAction::triggered, simulation, &SimulationWindow::showWindow);
    return simulation;
}

void SimulationWindow::showWindow()
{
    loadControls();
    refreshStatus();
    m_timer->start(kStatusRefreshMs);
    show();
    raise();
    activateWindow();
}

void SimulationWindow::loadControls()
{
    const Scenario s = m_driver.scenario();
    m_loading = true;
    m_beam->setChecked(s.beamPresent);
    m_noise->setValue(s.noiseLevel);
    m_drift->setValue(s.driftLevel);
    m_vibration->setText(ScenarioOptions::formatVibration(s.vibration));
    m_mains->setValue(s.mainsMicrometres);
    for (int slot = 0; slot < zevo::kSlotCount; ++slot) {
        QComboBox* box = m_slots[std::size_t(slot)];
        box->setCurrentIndex(box->findData(int(s.deviceIn(slot))));
    }
    m_legacyFirmware->setChecked(!s.versionCommands);
    m_loading = false;
}

void SimulationWindow::applyControls()
{
    if (m_loading)
        return;
    const bool beam = m_beam->isChecked();
    const double noise = m_noise->value();
    const double drift = m_drift->value();
    const double mains = m_mains->value();
    std::vector<VibrationLine> vibration;
    const bool vibrationValid = ScenarioOptions::parseVibration(m_vibration->text(), &vibration);
    // Lines that cannot be read leave the vibration as it is and say so.
    m_vibration->setStyleSheet(vibrationValid ? QString()
                                              : QStringLiteral("QLineEdit { color: red; }"));
    std::array<Scenario::Device, zevo::kSlotCount> devices{};
    for (int slot = 0; slot < zevo::kSlotCount; ++slot)
        devices[std::size_t(slot)] =
            static_cast<Scenario::Device>(m_slots[std::size_t(slot)]->currentData().toInt());
    const bool legacy = m_legacyFirmware->isChecked();
    m_driver.changeScenario([=](Scenario& s) {
        s.beamPresent = beam;
        s.noiseLevel = noise;
        s.driftLevel = drift;
        s.mainsMicrometres = mains;
        if (vibrationValid)
            s.vibration = vibration;
        // Only the slots whose device changed are replugged; the others keep
        // their records as they are.
        for (int slot = 0; slot < zevo::kSlotCount; ++slot)
            if (s.deviceIn(slot) != devices[std::size_t(slot)])
                s.plug(slot, devices[std::size_t(slot)]);
        s.versionCommands = !legacy;
    });
    refreshStatus();
}

void SimulationWindow::setKick(double x, double y)
{
    m_driver.changeScenario([=](Scenario& s) { s.kickMicrometres = {x, y}; });
    refreshStatus();
}

void SimulationWindow::refreshStatus()
{
    QString text;
    m_driver.inspect([&](const VirtualController& c) {
        const BeamlineModel& b = c.beamline();
        text = QStringLiteral("Controller time %1 s, display %2 records/s, %3\n"
                              "DAC outputs %4 V, %5 V, %6 V\n"
                              "Actuators %7 V, %8 V, %9 V")
                   .arg(b.seconds(), 0, 'f', 1)
                   .arg(c.displayRate(), 0, 'f', 1)
                   .arg(statusText(c.pidStatus()))
                   .arg(c.dacOutput(0), 0, 'f', 3)
                   .arg(c.dacOutput(1), 0, 'f', 3)
                   .arg(c.dacOutput(2), 0, 'f', 3)
                   .arg(b.actuator(0), 0, 'f', 3)
                   .arg(b.actuator(1), 0, 'f', 3)
                   .arg(b.actuator(2), 0, 'f', 3);
    });
    m_status->setText(text);
}
