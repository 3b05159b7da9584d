// What the operator sees at start, and the built program started, with and
// without the shipped catalogue, and closed as an operator would.
#include "serialportsettingdialog.h"
#include "testsupport.h"

#include <QtTest>
#include <QGenericPlugin>

class StartupTest : public QObject
{
    Q_OBJECT

private slots:
    void startState()
    {
        Fixture f;
        SerialportSettingDialog dialog;
        QCOMPARE(QStringList({f.window->windowTitle(), f.find<QComboBox>("comboBoxBaudRate")->currentText(),
                              dialog.windowTitle(), dialog.findChild<QComboBox *>("comboBoxBaud")->currentText()}),
                 (QStringList{"Morvane", "9600", "Serial port", "9600"}));
        // Nothing goes out or is logged without a click.
        QTest::qWait(1500);
        QVERIFY(f.log().isEmpty() && UartParam.PortName.isEmpty());
    }

    // The port adder alone puts the simulated module's terminal last in Link's
    // list, once, every time the dialog opens; a terminal that is not there is
    // not offered.
    void portAdder_data()
    {
        QTest::addColumn<bool>("present");
        QTest::newRow("terminal there") << true;
        QTest::newRow("terminal missing") << false;
    }

    void portAdder()
    {
        QFETCH(bool, present);
        Pty pty;
        const QString port = present ? pty.slavePath() : "/nonexistent/ttyMorvane";
        qputenv("MORVANE_OPERATOR_PORT", port.toLocal8Bit());
        QPluginLoader loader(OPERATOR_PLUGIN_DIR "/generic/libmorvaneportadder.so");
        auto *plugin = qobject_cast<QGenericPlugin *>(loader.instance());
        QVERIFY2(plugin, qPrintable(loader.errorString()));
        QScopedPointer<QObject> adder(plugin->create("morvaneportadder", QString()));
        QStringList expected;
        {
            SerialportSettingDialog system;
            for (int i = 0; i < system.findChild<QComboBox *>("comboBoxName")->count(); ++i)
                expected << system.findChild<QComboBox *>("comboBoxName")->itemText(i);
        }
        expected << (present ? QStringList{port} : QStringList());
        Fixture f;
        QList<QStringList> lists;
        f.watcher.onModal = [&](QWidget *dialog) {
            auto *names = dialog->findChild<QComboBox *>("comboBoxName");
            lists << QStringList();
            for (int i = 0; i < names->count(); ++i)
                lists.last() << names->itemText(i);
            dialog->findChild<QPushButton *>("pushButtonCancel")->click();
        };
        f.button("pushButtonLink")->click();
        f.button("pushButtonLink")->click();
        QCOMPARE(lists, (QList<QStringList>{expected, expected}));
    }

    // The robot closes the program as asked, and refuses a mode it does not
    // know (the port adder's job is not its).
    void startsAndCloses_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("catalogue");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("output");
        QTest::newRow("Close button") << "close-button" << "" << 0 << "title=Morvane\n";
        QTest::newRow("window frame") << "close-frame" << "" << 0 << "title=Morvane\n";
        QTest::newRow("Chinese catalogue") << "close-button" << "chinese" << 0 << "title=Morvane 温湿度模块工具\n";
        QTest::newRow("damaged catalogue") << "close-button" << "damaged" << 0 << "title=Morvane\n";
        QTest::newRow("unknown mode") << "add-port" << "" << 2
                                      << "MORVANE_OPERATOR is 'add-port'; it must be one of close-button, "
                                         "close-frame, session\n";
    }

    void startsAndCloses()
    {
        QFETCH(QString, mode);
        QFETCH(QString, catalogue);
        QFETCH(int, exitCode);
        QFETCH(QString, output);
        QTemporaryDir workDir;
        if (!catalogue.isEmpty()) {
            QFile good(CATALOGUE_FILE);
            QFile qm(workDir.filePath("Qm/Chinese.qm"));
            QVERIFY(QDir(workDir.path()).mkdir("Qm") && good.open(QIODevice::ReadOnly) && qm.open(QIODevice::WriteOnly));
            qm.write(catalogue == "chinese" ? good.readAll() : good.read(40) + QByteArray(200, '\xA5'));
        }
        QProcess morvane;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_PLUGIN_PATH", OPERATOR_PLUGIN_DIR);
        env.insert("QT_QPA_GENERIC_PLUGINS", "morvanerobot");
        env.insert("MORVANE_OPERATOR", mode);
        morvane.setProcessEnvironment(env);
        morvane.setProcessChannelMode(QProcess::MergedChannels);
        morvane.setWorkingDirectory(workDir.path());
        morvane.start(MORVANE_BINARY, QStringList());
        // Anything modal popping up on its own would keep it from closing.
        QVERIFY2(morvane.waitForFinished(30000), "the program did not close");
        const QString out = QString::fromUtf8(morvane.readAllStandardOutput());
        QVERIFY(morvane.exitStatus() == QProcess::NormalExit && morvane.exitCode() == exitCode);
        QVERIFY2(out.contains(output), qPrintable(out));
        // Nothing is written to the working directory.
        QCOMPARE(QDir(workDir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 catalogue.isEmpty() ? QStringList() : QStringList{"Qm"});
    }
};

QTEST_MAIN(StartupTest)
#include "tst_startup.moc"
