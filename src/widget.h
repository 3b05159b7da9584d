#ifndef WIDGET_H
#define WIDGET_H

#include <QWidget>

QT_BEGIN_NAMESPACE
namespace Ui { class Widget; }
QT_END_NAMESPACE

class QSerialPort;
class QTimer;

class Widget : public QWidget
{
    Q_OBJECT

public:
    explicit Widget(QWidget *parent = nullptr);
    ~Widget();

    static quint16 ModbusCRC16(const quint8 *data, quint16 length);
    void AppendTrafficLog(QString text, bool isRx);

private slots:
    void PushButtonLinkSlot();
    void PushButtonCloseSlot();
    void my_readuart();
    void PushButtonReadSlot();
    void PushButtonAddressSlot();
    void PushButtonBaudRateSlot();
    void TimerClearSlot();
    void PushButtonAddressReadSlot();
    void TimerResponseSlot();
    void ReadHumitureOrder();

private:
    void OpenSerialPort();
    void DisplayHumiture();
    void SendRequest(quint8 slave, quint8 function, quint16 reg, quint16 value);
    QString CheckAddress(int *address) const;
    void ShowError(const QString &message);

    QSerialPort *serialPort;
    QTimer *timerClear;
    QTimer *timerResponse;
    QTimer *timerPoll;
    Ui::Widget *ui;
};

#endif // WIDGET_H
