#ifndef REPLYDECODER_H
#define REPLYDECODER_H

#include <QByteArray>
#include <QString>
#include <QVector>

// What a candidate frame from the line is to the request that was sent: its
// answer, a refusal, or not the answer (and why). The one place the tools
// decide this.
struct Reply
{
    enum Kind { Answer, Refused, NotTheAnswer };
    enum Reason {
        None,
        TooShort,           // shorter than any reply to it can be
        BadCheckValue,
        OtherAddress,
        OtherFunction,
        LengthDisagrees,    // the byte count and the frame's length disagree
        WrongByteCount,     // not the byte count this request asks for
        NotTheEcho,         // a write answered with other values
        NotARequest,        // what was sent is no request this decoder knows
    };

    Kind kind = NotTheAnswer;
    Reason reason = TooShort;
    int from = -1;                // the address the frame came from
    int exceptionCode = 0;        // Refused: the Modbus exception code
    QVector<quint16> registers;   // Answer: a read's values, or a write's value(s)

    // Answer to the measurement request: tenths of a degree or percent.
    qint16 temperature() const { return qint16(registers.value(0)); }
    quint16 humidity() const { return registers.value(1); }
    qint16 dewPoint() const { return qint16(registers.value(2)); }
    // Answer to the address read: the whole register, which may be no
    // address at all.
    quint16 addressRegister() const { return registers.value(0); }

    bool isAnswer() const { return kind == Answer; }
    QString reasonText() const;

    // For a request to address 0 the answer may come from address 0 or from
    // the module's own address: moduleAddress when it is known (1..247),
    // any address when it is not (-1).
    static Reply decode(const QByteArray &request, const QByteArray &frame, int moduleAddress = -1);
    // How long the answer to this request is; 0 for no request.
    static int answerLength(const QByteArray &request);
};

#endif // REPLYDECODER_H
