// libFuzzer target for reply reception. An input is a run of arrivals: a
// control byte (bit 7: the clear timer fires first; bits 0-5: how many bytes
// arrive) followed by that many bytes. Each arrival is added to the receive
// buffer and handed to my_readuart, and the outcome is checked against an
// independent reading of what counts as a whole, intact reply.
#include "modbusframe.h"
#include "uartparam.h"
#include "widget.h"

#include <QApplication>
#include <QTextBrowser>

#include <cstdint>
#include <cstdlib>

namespace {

void quiet(QtMsgType, const QMessageLogContext &, const QString &) {}

struct Harness
{
    Harness()
    {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        qInstallMessageHandler(quiet);
        app = new QApplication(argc, argv);
        window = new Widget;
        log = window->findChild<QTextBrowser *>("textBrowser");
        QObject::connect(log, &QTextBrowser::textChanged, [this] { ++logChanges; });
    }
    int argc = 1;
    char name[16] = "fuzz_readuart";
    char *argv[2] = {name, nullptr};
    QApplication *app;
    Widget *window;
    QTextBrowser *log;
    int logChanges = 0;
};

bool isWholeReply(const QByteArray &b)
{
    const int length = b.size();
    if (length < 5)
        return false;
    const quint8 function = quint8(b[1]);
    const int n = function == 0x03 ? quint8(b[2]) : function == 0x06 ? 3 : 0;
    if (length != n + 5)
        return false;
    const quint16 check = quint16(quint8(b[length - 2]) | (quint8(b[length - 1]) << 8));
    return ModbusFrame::crc(b.left(length - 2)) == check;
}

void require(bool condition)
{
    if (!condition)
        abort();
}

Harness *harness;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

// The toolkit sets up fonts and caches on first use; do that before the
// fuzzer starts counting allocations per input.
extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    harness = new Harness;
    const uint8_t warmUp[] = {11, 0x01, 0x03, 0x06, 0x01, 0x0F, 0x02, 0x58, 0x00, 0xC8, 0xF5, 0x58,
                              7, 0x01, 0x03, 0x02, 0x00, 0x05, 0x78, 0x47};
    LLVMFuzzerTestOneInput(warmUp, sizeof warmUp);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Harness &h = *harness;
    UartParam = UartParamRecord();
    h.log->clear();

    size_t i = 0;
    while (i < size) {
        const uint8_t control = data[i++];
        if (control & 0x80)
            QMetaObject::invokeMethod(h.window, "TimerClearSlot");
        const size_t count = qMin<size_t>(control & 0x3F, size - i);
        UartParam.RxData.append(reinterpret_cast<const char *>(data + i), int(count));
        i += count;

        const QByteArray before = UartParam.RxData;
        const int changesBefore = h.logChanges;
        QMetaObject::invokeMethod(h.window, "my_readuart");
        const bool accepted = h.logChanges != changesBefore;

        require(accepted == isWholeReply(before));
        require(UartParam.RxData.size() <= 252);
        if (accepted) {
            require(UartParam.RxData.isEmpty());
            if (quint8(before[1]) == 0x03 && before.size() == 11)
                require(UartParam.Temperature == qint16((quint8(before[3]) << 8) | quint8(before[4])));
        } else {
            require(UartParam.RxData == before || (before.size() > 252 && UartParam.RxData.isEmpty()));
        }
    }
    return 0;
}
