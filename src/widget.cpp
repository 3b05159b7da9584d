#include "widget.h"
#include "ui_widget.h"

#include "serialportsettingdialog.h"
#include "uartparam.h"

#include <QDateTime>
#include <QDebug>
#include <QMessageBox>
#include <QSerialPort>
#include <QTimer>

// Diagnostics carry this file and the function as their context, in release
// builds too.
#define WIDGET_DEBUG(function) QMessageLogger("widget.cpp", __LINE__, function).debug()

namespace {
// A read reply declares at most 247 data bytes, so no reply is longer than
// address + function + count + 247 + check value.
const int MaxFrameLength = 247 + 5;
const int ClearInterval = 500;
const int ResponseInterval = 500;
const int PollInterval = 1000;
}

Widget::Widget(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::Widget)
{
    ui->setupUi(this);
    setWindowTitle(tr("Morvane"));

    serialPort = new QSerialPort(this);
    serialPort->setObjectName("serialPort");
    timerClear = new QTimer(this);
    timerClear->setObjectName("timerClear");
    timerResponse = new QTimer(this);
    timerResponse->setObjectName("timerResponse");
    timerPoll = new QTimer(this);
    timerPoll->setObjectName("timerPoll");

    ui->comboBoxBaudRate->setCurrentIndex(3);

    connect(ui->pushButtonLink, SIGNAL(clicked()), this, SLOT(PushButtonLinkSlot()));
    connect(ui->pushButtonClose, SIGNAL(clicked()), this, SLOT(PushButtonCloseSlot()));
    connect(ui->pushButtonRead, SIGNAL(clicked()), this, SLOT(PushButtonReadSlot()));
    connect(ui->pushButtonAddress, SIGNAL(clicked()), this, SLOT(PushButtonAddressSlot()));
    connect(ui->pushButtonBaudRate, SIGNAL(clicked()), this, SLOT(PushButtonBaudRateSlot()));
    connect(ui->pushButtonAddressRead, SIGNAL(clicked()), this, SLOT(PushButtonAddressReadSlot()));
    connect(timerClear, SIGNAL(timeout()), this, SLOT(TimerClearSlot()));
    connect(timerResponse, SIGNAL(timeout()), this, SLOT(TimerResponseSlot()));
    connect(timerPoll, SIGNAL(timeout()), this, SLOT(ReadHumitureOrder()));

    // A line that goes away under an open port (adapter pulled, other end
    // closed) leaves the port reporting read errors without end, one core
    // busy for nothing. Close it; requests go on being logged, and Link opens
    // the line again.
    connect(serialPort, &QSerialPort::errorOccurred, this, [this](QSerialPort::SerialPortError error) {
        if (error == QSerialPort::ReadError || error == QSerialPort::ResourceError)
            QTimer::singleShot(0, serialPort, [this] { serialPort->close(); });
    });
}

Widget::~Widget()
{
    delete ui;
}

quint16 Widget::ModbusCRC16(const quint8 *data, quint16 length)
{
    quint16 crc = 0xFFFF;
    for (quint16 i = 0; i < length; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? quint16((crc >> 1) ^ 0xA001) : quint16(crc >> 1);
    }
    // Byte-swapped: read big-endian, it equals the two check bytes in wire order.
    return quint16((crc << 8) | (crc >> 8));
}

void Widget::AppendTrafficLog(QString text, bool isRx)
{
    QString line = QDateTime::currentDateTime().toString("yyyy-MM-dd hh:mm:ss");
    line += isRx ? "->RX  " : "->TX  ";
    line += text;
    ui->textBrowser->append(line);
}

void Widget::PushButtonLinkSlot()
{
    serialPort->close();
    SerialportSettingDialog dialog;
    if (dialog.exec() == QDialog::Accepted)
        OpenSerialPort();
}

void Widget::PushButtonCloseSlot()
{
    QCoreApplication::quit();
}

void Widget::OpenSerialPort()
{
    serialPort->close();
    serialPort->setPortName(UartParam.PortName);
    serialPort->open(QIODevice::ReadWrite);
    serialPort->setBaudRate(UartParam.BaudRate);
    serialPort->setDataBits(QSerialPort::Data8);
    serialPort->setParity(QSerialPort::NoParity);
    serialPort->setStopBits(QSerialPort::OneStop);
    serialPort->setFlowControl(QSerialPort::NoFlowControl);
    // Every opening passes here; one connection is enough for the port's life.
    connect(serialPort, SIGNAL(readyRead()), this, SLOT(my_readuart()), Qt::UniqueConnection);
    PushButtonAddressReadSlot();
}

void Widget::my_readuart()
{
    timerClear->start(ClearInterval);
    UartParam.RxData.append(serialPort->readAll());

    const QByteArray buffer = UartParam.RxData;
    WIDGET_DEBUG("Widget::my_readuart").noquote() << buffer.toHex();

    // Frames start at the first byte and are never resynchronised, so a buffer
    // this long cannot become a reply: drop it rather than let a noisy line
    // grow it without end.
    const int length = buffer.size();
    if (length > MaxFrameLength) {
        UartParam.RxData.clear();
        return;
    }

    auto byteAt = [&buffer, length](int i) { return i < length ? quint8(buffer.at(i)) : quint8(0); };
    int n = 0;
    if (byteAt(1) == 0x03)
        n = byteAt(2);
    else if (byteAt(1) == 0x06)
        n = 3;

    // Only a whole frame is checked: a short one waits for the rest, a longer
    // one for the clear timer.
    if (length != n + 5)
        return;
    const auto *bytes = reinterpret_cast<const quint8 *>(buffer.constData());
    const quint16 received = quint16((bytes[n + 3] << 8) | bytes[n + 4]);
    if (ModbusCRC16(bytes, quint16(n + 3)) != received)
        return;

    switch (n) {
    case 6:
        UartParam.Temperature = qint16((bytes[3] << 8) | bytes[4]);
        UartParam.Humidity = quint16((bytes[5] << 8) | bytes[6]);
        UartParam.DewTemp = qint16((bytes[7] << 8) | bytes[8]);
        UartParam.ReplyReceived = true;
        DisplayHumiture();
        break;
    case 2:
        UartParam.DeviceAddress = bytes[4];
        UartParam.ReplyReceived = true;
        ui->lineEditAddress->setText(QString::number(UartParam.DeviceAddress));
        break;
    case 3:
        UartParam.ReplyReceived = true;
        break;
    default:
        break;
    }
    AppendTrafficLog(QString(buffer.toHex()), true);
    UartParam.RxData.clear();
}

void Widget::DisplayHumiture()
{
    const QChar celsius(0x2103);
    ui->labelTemperature->setText(tr("Temperature:")
                                  + QString::number(UartParam.Temperature / 10.0, 'f', 1) + celsius);
    ui->labelHumidity->setText(tr("Humidity:")
                               + QString::number(UartParam.Humidity / 10.0, 'f', 1) + '%');
    ui->labelDewTemp->setText(tr("DewTemp:")
                              + QString::number(UartParam.DewTemp / 10.0, 'f', 1) + celsius);
}

void Widget::TimerClearSlot()
{
    timerClear->stop();
    UartParam.RxData.clear();
}

void Widget::TimerResponseSlot()
{
    timerResponse->stop();
    if (UartParam.ReplyReceived)
        return;
    ShowError(tr("Communication error!"));
}

void Widget::PushButtonReadSlot()
{
    if (ui->pushButtonRead->text() == tr("Read")) {
        ui->pushButtonRead->setText(tr("Stop"));
        timerPoll->start(PollInterval);
    } else {
        ui->pushButtonRead->setText(tr("Read"));
        timerPoll->stop();
    }
}

void Widget::ReadHumitureOrder()
{
    int address = 0;
    const QString error = CheckAddress(&address);
    if (!error.isEmpty()) {
        // Stopped before the box opens, so a bad address gives one message.
        timerPoll->stop();
        ShowError(error);
        ui->pushButtonRead->setText(tr("Read"));
        return;
    }
    UartParam.DeviceAddress = quint8(address);
    SendRequest(UartParam.DeviceAddress, 0x03, 0x0000, 3);
}

void Widget::PushButtonAddressSlot()
{
    int address = 0;
    const QString error = CheckAddress(&address);
    if (!error.isEmpty()) {
        ShowError(error);
        return;
    }
    SendRequest(0, 0x06, 0x0100, quint16(address));
}

void Widget::PushButtonBaudRateSlot()
{
    const quint8 code = quint8(ui->comboBoxBaudRate->currentIndex() + 1);
    WIDGET_DEBUG("Widget::PushButtonBaudRateSlot") << int(code);
    SendRequest(0, 0x06, 0x0101, code);
}

void Widget::PushButtonAddressReadSlot()
{
    SendRequest(0, 0x03, 0x0100, 1);
}

// Builds one request frame, writes it and logs it. Requests to address 0
// (address read and both writes) expect an answer within ResponseInterval.
void Widget::SendRequest(quint8 slave, quint8 function, quint16 reg, quint16 value)
{
    quint8 frame[8] = {};
    frame[0] = slave;
    frame[1] = function;
    frame[2] = quint8(reg >> 8);
    frame[3] = quint8(reg);
    frame[4] = quint8(value >> 8);
    frame[5] = quint8(value);
    const quint16 crc = ModbusCRC16(frame, 6);
    frame[6] = quint8(crc >> 8);
    frame[7] = quint8(crc);

    const QByteArray data(reinterpret_cast<const char *>(frame), sizeof frame);
    serialPort->write(data);
    if (slave == 0)
        timerResponse->start(ResponseInterval);
    UartParam.ReplyReceived = false;
    AppendTrafficLog(QString(data.toHex()), false);
}

// Returns the message for an unusable address field, or an empty string and
// the address when it holds 1..247.
QString Widget::CheckAddress(int *address) const
{
    const QString text = ui->lineEditAddress->text();
    if (text.isEmpty())
        return tr("The address is empty!");
    *address = text.toInt(nullptr, 10);
    if (unsigned(*address) - 1u > 246u)
        return tr("The address is between 1 and 247!");
    return QString();
}

void Widget::ShowError(const QString &message)
{
    QMessageBox::information(this, tr("Error"), message);
}
