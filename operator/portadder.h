#ifndef PORTADDER_H
#define PORTADDER_H

#include <QObject>
#include <QString>

// Offers a port the system does not list (the simulator's pseudo-terminal)
// as the last entry of the settings dialog's port list, every time the
// dialog is shown.
class PortAdder : public QObject
{
public:
    explicit PortAdder(const QString &port, QObject *parent = nullptr);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QString m_port;
};

#endif // PORTADDER_H
