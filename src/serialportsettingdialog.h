#ifndef SERIALPORTSETTINGDIALOG_H
#define SERIALPORTSETTINGDIALOG_H

#include <QDialog>

QT_BEGIN_NAMESPACE
namespace Ui { class SerialportSettingDialog; }
QT_END_NAMESPACE

class SerialportSettingDialog : public QDialog
{
    Q_OBJECT

public:
    explicit SerialportSettingDialog(QWidget *parent = nullptr);
    ~SerialportSettingDialog();

private slots:
    void ClickedCancelSlots();
    void ClickedOKSlots();

private:
    void ScanAvailablePorts();

    Ui::SerialportSettingDialog *ui;
};

#endif // SERIALPORTSETTINGDIALOG_H
