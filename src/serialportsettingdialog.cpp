#include "serialportsettingdialog.h"
#include "ui_serialportsettingdialog.h"

#include "uartparam.h"

#include <QSerialPort>
#include <QSerialPortInfo>

SerialportSettingDialog::SerialportSettingDialog(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::SerialportSettingDialog)
{
    ui->setupUi(this);
    setWindowTitle(tr("Serial port"));

    ScanAvailablePorts();
    // Looked up by its plain text, so a translated list still finds it.
    const int index = ui->comboBoxBaud->findText("9600", Qt::MatchExactly);
    if (index >= 0)
        ui->comboBoxBaud->setCurrentIndex(index);

    connect(ui->pushButtonOK, SIGNAL(clicked()), this, SLOT(ClickedOKSlots()));
    connect(ui->pushButtonCancel, SIGNAL(clicked()), this, SLOT(ClickedCancelSlots()));
}

SerialportSettingDialog::~SerialportSettingDialog()
{
    delete ui;
}

// Lists, in the system's order, every port that can be opened right now.
// Ports held by another program are left out.
void SerialportSettingDialog::ScanAvailablePorts()
{
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : ports) {
        QSerialPort port;
        port.setPort(info);
        if (port.open(QIODevice::ReadWrite)) {
            ui->comboBoxName->addItem(info.portName());
            port.close();
        }
    }
}

void SerialportSettingDialog::ClickedCancelSlots()
{
    reject();
}

void SerialportSettingDialog::ClickedOKSlots()
{
    UartParam.PortName = ui->comboBoxName->currentText();
    UartParam.BaudRate = ui->comboBoxBaud->currentText().toInt(nullptr, 10);
    accept();
}
